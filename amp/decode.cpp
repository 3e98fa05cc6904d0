// Replies of the amplifier micro: the dispatch by the reply's two letters, the EEPROM
// pages and the status reply with its measurements.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "amp/amp.h"
#include "amp/link.h"
#include "core/works.h"
#include "errors/errors.h"
#include "platform/clock.h"
#include "platform/log.h"

namespace corvid {

using platform::sleepMs;
using platform::trace;

int charToInt(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

namespace {

// The reply's character at i, or NUL past its end: nothing is read beyond the reply.
char at(std::string_view text, size_t i) {
  return i < text.size() ? text[i] : '\0';
}

// A flag digit; a non-hexadecimal one reads as -1, all bits set in the byte.
uint8_t flagDigit(std::string_view text, size_t i) {
  return static_cast<uint8_t>(charToInt(at(text, i)));
}

// A field of decimal digits as atoi reads it: leading digits only, 0 when none.
int decimalField(std::string_view text, size_t from, size_t width) {
  int value = 0;
  for (size_t i = from; i < from + width && i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') break;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Hex byte pairs from position from; stops at the end of the reply. Returns how many
// bytes were read.
size_t hexBytes(std::string_view text, size_t from, uint8_t* out, size_t count) {
  size_t n = 0;
  for (; n < count && from + 2 * n + 1 < text.size(); ++n) {
    const int hi = charToInt(text[from + 2 * n]);
    const int lo = charToInt(text[from + 2 * n + 1]);
    if (hi < 0 || lo < 0) break;
    out[n] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return n;
}

std::string hexText(const uint8_t* bytes, size_t count) {
  std::string text;
  char two[3];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(two, sizeof two, "%02X", bytes[i]);
    text += two;
  }
  return text;
}

void decodeEeprom(Works& works, std::string_view text) {
  AmpState& amp = works.amp;
  const std::string reply(text);
  switch (at(text, 5)) {
    case '0':
    case '1': {
      const bool first = at(text, 5) == '0';
      std::array<uint8_t, 32> page{};
      hexBytes(text, 6, page.data(), page.size());
      {
        std::scoped_lock lock(amp.eepromMutex);
        (first ? amp.eeprom.page0 : amp.eeprom.page1) = page;
      }
      trace(first ? "EE0:%s\n" : "EE1:%s \n", hexText(page.data(), page.size()).c_str());
      break;
    }
    case '2': {
      uint8_t head[2] = {0xFF, 0xFF};
      if (hexBytes(text, 6, head, 2) == 2) {
        amp.ampModelAux = head[0];
        amp.ampModel = head[1];
      }
      std::array<uint8_t, 6> page{};
      hexBytes(text, 10, page.data(), page.size());
      {
        std::scoped_lock lock(amp.eepromMutex);
        amp.eeprom.page2 = page;
      }
      works.ui.number_ofStep_meter_FWD = amp.ampModel.load() == '1' ? 120 : 60;
      trace("EE2: %x %x %s\n", amp.ampModelAux.load(), amp.ampModel.load(),
            hexText(page.data(), page.size()).c_str());
      break;
    }
    case '3': {
      uint8_t bytes[11] = {};
      const size_t n = hexBytes(text, 6, bytes, sizeof bytes);
      std::string number(reinterpret_cast<const char*>(bytes), n);
      number = number.substr(0, number.find('\0'));
      char* end = nullptr;
      const double value = std::strtod(number.c_str(), &end);
      if (end != number.c_str() && value > 0 && value < 2) amp.powerMultiplier = value;
      trace("EE3: %01.09f (%s , %s)\n", amp.powerMultiplier.load(), number.c_str(), reply.c_str());
      break;
    }
    default:
      break;
  }
}

void clearRecoveryBitsIfCleared(Works& works) {
  if ((works.errors.errorActions.load() & kActionDisplayCleared) != 0) {
    works.errors.errorActions.fetch_and(
        static_cast<uint8_t>(~(kActionRecovery | kActionDisplayCleared)));
  }
}

// Positions of the status reply.
constexpr size_t kStatusMinLength = 31;  // through statusC
constexpr size_t kStatusPeakEnd = 36;

void decodeStatus(Works& works, std::string_view text) {
  AmpState& amp = works.amp;
  Settings& set = works.set;
  // 1. The recovery commands have all gone out.
  if (amp.errorBurst.load() == 2) {
    GestErroreSerial(works);
    trace(">>> ERRORI: End Gest Errori!!\n");
    amp.errorBurst = 0;
  }
  // 2. Flags.
  const uint8_t statusA = flagDigit(text, 2);
  const uint8_t statusB = flagDigit(text, 3);
  const uint8_t alarms = static_cast<uint8_t>(flagDigit(text, 28) | (flagDigit(text, 29) << 4));
  amp.statusA = statusA;
  amp.statusB = statusB;
  amp.alarmBits = alarms;
  amp.statusC = flagDigit(text, 30);
  const std::string reply(text);
  // 3. Bypass as the amplifier reports it.
  if ((statusB & 0x08) != 0 && amp.ampBypass.load() == 0) {
    trace("--------------- AMPL ERRORE : bypass on %s\n", reply.c_str());
    amp.ampBypass = 1;
  } else if ((statusB & 0x08) == 0 && amp.ampBypass.load() == 1) {
    trace("--------------- AMPL ERRORE : bypass off %s\n", reply.c_str());
    amp.ampBypass = 0;
  }
  // 4. Attenuator pads switched by the amplifier itself.
  if (works.atu.tuneState.load() == TuneState::Idle &&
      amp.attReported.load() == works.atu.attStep.load()) {
    const bool pad3 = (statusA & 0x08) != 0;
    const bool pad2 = (statusA & 0x04) != 0;
    const int pads = pad3 && pad2 ? 3 : pad3 ? 2 : pad2 ? 1 : 0;
    if (pads != works.atu.attStep.load()) {
      works.atu.attStep = pads;
      amp.attReported = static_cast<uint8_t>(pads);
      works.atu.attSelect = pads;
      if (amp.hooks.SetAttenuatorLabel != nullptr) amp.hooks.SetAttenuatorLabel(works);
      trace("STATE DA ERRORE : attenuatore 3dB=%s 2dB=%s\n", pad3 ? "on" : "off",
            pad2 ? "on" : "off");
    }
  }
  // 5. Micro reset.
  const uint8_t resetFlags = amp.microResetFlags.load();
  if ((alarms & 0x80) != 0 && (resetFlags & 1) != 0 && (resetFlags & 2) == 0) {
    AddErrore(works, Err::MicroReset);
    amp.microResetFlags.fetch_or(2);
    trace("Add Err RESET MICRO\n");
  }
  // 6. Alarms.
  if ((alarms & 0x5F) != 0) {
    if ((alarms & 0x40) != 0) {
      AddErrore(works, Err::BandStandby);
    } else {
      static constexpr const char* kNames[] = {"I OUT", "REFL", "FWD", "SENS PW", "FILTER TX"};
      const char* name = "---";
      for (int bit = 0; bit < 5; ++bit) {
        if ((alarms & (1 << bit)) != 0) name = kNames[bit];
      }
      setErrorDetail(works, Err::AmpAlarm, name);
      AddErrore(works, Err::AmpAlarm);
    }
  } else {
    DeleteErrore(works, Err::AmpAlarm);
    clearRecoveryBitsIfCleared(works);
  }
  // 7. Input power.
  if ((alarms & 0x20) != 0) AddErrore(works, Err::InputPower);
  // 8. High SWR and the protection latch.
  if ((statusB & 0x02) != 0) {
    AddErrore(works, Err::HighSwr);
  } else {
    DeleteErrore(works, Err::HighSwr);
    clearRecoveryBitsIfCleared(works);
  }
  if ((statusB & 0x04) == 0) clearRecoveryBitsIfCleared(works);
  // 9. The temperature log restarts with the first transmission.
  if (set.EnableLOGTemp.load() == 1 && (statusB & 0x01) != 0 && amp.logRemoved.load() == 0) {
    trace("REMOVE file LOG \n");
    LogTempFunction(works, -1);
    LogTempFunction(works, 0);
    amp.logActive = 1;
    amp.logRemoved = 1;
  }
  // 10. Powers.
  const int rawIn = decimalField(text, 4, 4);
  const int rawFwd = decimalField(text, 8, 4);
  const int rawRefl = decimalField(text, 12, 4);
  amp.rawPwrIn = static_cast<uint16_t>(rawIn);
  amp.rawFwd = static_cast<uint16_t>(rawFwd);
  amp.rawRefl = static_cast<uint16_t>(rawRefl);
  const float pwrIn = CalcolaWatt(amp.KostPWRIN, rawIn, SearchK(works, KostInput));
  const float pwrFwd = CalcolaWatt(amp.KostFORW, rawFwd, SearchK(works, KostForward));
  float pwrRefl = CalcolaWatt(amp.KostREFL, rawRefl, SearchK(works, KostReflected)) +
                  SearchK(works, KostCorrection) * pwrFwd;
  if (pwrRefl < 0) pwrRefl = 0;
  amp.pwrIn = pwrIn;
  amp.pwrFwd = pwrFwd;
  amp.pwrRefl = pwrRefl;
  // 11. SWR.
  amp.swr = CalcolaSWRfromPowers(pwrFwd, pwrRefl);
  // 12. Current.
  amp.ampCurrentRaw = static_cast<float>(decimalField(text, 16, 4));
  // 13. Temperatures, smoothed.
  for (auto [field, from] :
       {std::pair{&amp.temp1, size_t{20}}, std::pair{&amp.temp2, size_t{24}}}) {
    const float t = CalcolaTemp(decimalField(text, from, 4));
    const float stored = field->load();
    field->store(stored == 0.0f ? t : (9 * stored + t) / 10);
  }
  // 14. Forward peak.
  if (set.EnablePwrPeak.load() == 1) {
    const float raw =
        text.size() >= kStatusPeakEnd ? static_cast<float>(decimalField(text, 32, 4)) : 0.0f;
    const float limit = amp.ampModel.load() == '1' ? 130.0f : 70.0f;
    amp.fwdPeak = std::min(SearchK(works, KostForward) * raw * raw, limit);
  }
  // 15. Fans and temperature protection.
  searchPercentVentola(works);
  GestTemperatureFunction(works, Err::Temp1Alarm, Err::Temp1Recovered, Err::Temp1Warning, amp.temp1,
                          set.MaxTemperature);
  GestTemperatureFunction(works, Err::Temp2Alarm, Err::Temp2Recovered, Err::Temp2Warning, amp.temp2,
                          set.MaxTemperature2);
}

// The command after a status reply: the tuner's hand-over, a queued command or FM.
void nextAfterStatus(Works& works) {
  AmpState& amp = works.amp;
  AtuState& atu = works.atu;
  int next = CmdFM;
  switch (atu.tuneState.load()) {
    case TuneState::Tuning:
      if (amp.swr.load() <= 10) atu.tuneState = TuneState::Settle;
      if (amp.hooks.TuneTask != nullptr) amp.hooks.TuneTask(works);
      next = CmdMTwrite;
      break;
    case TuneState::AlarmHit:
      next = CmdCP;
      atu.tuneState = TuneState::Tuning;
      break;
    case TuneState::Settle:
      next = CmdST;
      atu.tuneState = TuneState::Tuning;
      sleepMs(10);
      break;
    case TuneState::Idle:
      if (const int queued = amp.cmdQueue.pop(); queued >= 0) next = queued;
      break;
  }
  amp.linearProcessStatus = next;
  sleepMs(10);
}

void unrecognised(Works& works, std::string_view text) {
  trace("---------------------------------------cmd non riconosciuto:%s\n",
        std::string(text).c_str());
  GestRetrayCMD(works);
  sleepMs(20);
}

}  // namespace

void DecodeCatCmd(Works& works, std::string_view text, int count) {
  AmpState& amp = works.amp;
  if (count < 3) {
    GestRetrayCMD(works);  // nothing to decode: the command goes out again
    return;
  }
  const std::string reply(text);
  const char third = at(text, 2);
  if (third == '?' || third == '!' || third == '&') {
    trace("---------------------------------------CMD Errato:%s\n", reply.c_str());
    GestRetrayCMD(works);
    sleepMs(20);
    return;
  }
  const std::string_view letters = text.substr(0, std::min<size_t>(2, text.size()));
  if (letters == "ST") {
    if (amp.statusValid.load() == 1) {
      if (text.size() < kStatusMinLength) {
        unrecognised(works, text);  // too short for its layout: asked again
        return;
      }
      decodeStatus(works, text);
    }
    nextAfterStatus(works);
    return;
  }
  if (letters == "CM") {
    trace("!!!!!!!!!!!!!!!!!!Impostazioni Moltiplicatore OK: %s\n", reply.c_str());
    amp.linearProcessStatus = NextCmdPriority(works, CmdST);
    sleepMs(20);
    amp.statusValid = 1;
    return;
  }
  if (letters == "VS") {
    std::string version(text.substr(std::min<size_t>(3, text.size()), 7));
    version = version.substr(0, version.find(';'));
    amp.ampFwVersion.set(version);
  } else if (letters == "SA") {
    const int digit = at(text, 2) - '0';
    if (digit >= 1 && digit <= 3) works.set.NumAntenna = digit - 1;
  } else if (letters == "FM") {
    bool digits = text.size() >= 14;
    uint64_t value = 0;
    for (size_t i = 3; digits && i < 14; ++i) {
      if (text[i] < '0' || text[i] > '9')
        digits = false;
      else
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (digits && value > 0 && value <= UINT32_MAX) amp.ampFreq = static_cast<uint32_t>(value);
  } else if (letters == "FA" || letters == "FS" || letters == "MP" || letters == "TS" ||
             letters == "MT") {
    // acknowledged; nothing to keep
  } else if (letters == "CP") {
    works.errors.errorsMuted.fetch_and(static_cast<uint8_t>(~1));
  } else if (letters == "AT") {
    const int hi = at(text, 2) - '0';
    const int lo = at(text, 3) - '0';
    if ((hi == 0 || hi == 1) && (lo == 0 || lo == 1)) {
      amp.attReported = static_cast<uint8_t>(hi * 2 + lo);
      trace("ATTENUATORE SET: %x (%x)\n", amp.attReported.load(), works.atu.attStep.load());
    }
  } else if (letters == "AB") {
    trace(">> ByPass Ampl: %s\n", reply.c_str());
    if (at(text, 2) == '1') amp.ampBypass = 1;
    if (at(text, 2) == '0') amp.ampBypass = 0;
  } else if (letters == "AN") {
    trace("read antenna %s\n", reply.c_str());
    const int digit = at(text, 2) - '0';
    if (digit >= 0 && digit <= 9) {
      works.atu.antennaInUse = digit;
      trace("N Used Antenna: %i\n", digit + 1);
    }
    if ((works.trx.pexTxRequest.load() & 0x10) != 0) works.trx.pexTxRequest.fetch_or(0x20);
  } else if (letters == "FN") {
    trace("Ventola: %s\n", reply.c_str());
  } else if (letters == "PS") {
    trace("Protezioni automatiche setted : %s\n", reply.c_str());
  } else if (letters == "SF") {
    trace("Pilotaggio Relè : %s\n", reply.c_str());
  } else if (letters == "MR") {
    trace("RESET MICRO: %s\n", reply.c_str());
    if (at(text, 2) == '0') {
      const uint8_t flags = static_cast<uint8_t>((amp.microResetFlags.load() | 1) & ~2);
      amp.microResetFlags = flags;
      trace("RESET MICRO ----------------------------------  %x\n", flags);
    }
  } else if (letters == "GM") {
    trace("Impostazioni Generic mode : %s\n", reply.c_str());
  } else if (letters == "GS") {
    std::string settings;
    for (size_t i = 2; i < 12 && i < text.size(); ++i) {
      if (text[i] == ';') {
        trace("ERRORE!! Impostazioni Generali\n");
        break;
      }
      settings += text[i];
    }
    amp.generalSettings.set(settings);
    trace("Impostazioni Generali : %s (%s)\n", settings.c_str(), reply.c_str());
  } else if (letters == "ER") {
    decodeEeprom(works, text);
  } else {
    unrecognised(works, text);
    return;
  }
  amp.linearProcessStatus = NextCmdPriority(works, CmdST);
  sleepMs(20);
}

}  // namespace corvid
