#include "amp/link.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "amp/amp.h"
#include "core/works.h"
#include "errors/errors.h"
#include "platform/clock.h"
#include "platform/log.h"

namespace corvid {

using platform::logError;
using platform::logInfo;
using platform::trace;

// ---- checksum and framing ----

uint8_t Sys_Crc8Calculation(std::span<const uint8_t> data) {
  uint8_t crc = 0;
  for (uint8_t byte : data) {
    for (int bit = 0; bit < 8; ++bit) {
      const bool mix = ((byte ^ crc) & 1) != 0;
      crc = static_cast<uint8_t>(crc >> 1);
      if (mix) crc ^= 0x8C;
      byte = static_cast<uint8_t>(byte >> 1);
    }
  }
  return crc;
}

uint8_t Sys_Crc8Calculation(std::string_view text) {
  return Sys_Crc8Calculation(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

long writeLinearPort(platform::ByteStream& port, std::string_view text, Works& works) {
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02x", Sys_Crc8Calculation(text));
  long result = port.write(std::span(reinterpret_cast<const uint8_t*>(digits), 2));
  if (result >= 0) {
    result = port.write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  }
  works.amp.counterrortimeout = 0;
  return result;
}

// ---- queue, retries, start-up ----

int IncPNTIn_CMDLinear(int index, Works& works) {
  return works.amp.cmdQueue.push(index);
}

int NextCmdPriority(Works& works, int fallback) {
  AmpState& amp = works.amp;
  amp.retryCount = 0;
  if (amp.cmdQueueDrain.load() == 0) return fallback;
  const int next = amp.cmdQueue.pop();
  if (next >= 0) {
    trace("cmd ext: %d\n", next);
    return next;
  }
  amp.cmdQueueDrain = 0;
  if (amp.errorBurst.load() == 1) {
    trace(">>> ERRORI: Send All CMD for Error\n");
    amp.errorBurst = 2;
  }
  return fallback;
}

void LastCmdSent(Works& works, char letter1, char letter2, int index) {
  works.amp.lastCmdLetters[0] = letter1;
  works.amp.lastCmdLetters[1] = letter2;
  works.amp.lastCmdIndex = index;
}

void GestRetrayCMD(Works& works) {
  AmpState& amp = works.amp;
  const char l1 = amp.lastCmdLetters[0].load();
  const char l2 = amp.lastCmdLetters[1].load();
  const int total = ++amp.retryTotal;
  if (amp.retryCount.load() > 2) {
    char detail[16];
    std::snprintf(detail, sizeof detail, "Err %c%c", l1, l2);
    setErrorDetail(works, Err::Comm, detail);
    if (amp.commErrorHoldoff.load() == 0) {
      AddErrore(works, Err::Comm);
      amp.commErrorHoldoff = 2000;
    }
    trace(
        "---------------------------------------STOP RETRAY!! %c%c (%d, %d) Restart da ST "
        "(Timer: %i)\n",
        l1, l2, total, amp.retryCount.load(), amp.commErrorHoldoff.load());
    ++amp.linkRestarts;
    amp.linearProcessStatus = CmdST;
    amp.retryCount = 0;
    return;
  }
  const int count = ++amp.retryCount;
  amp.linearProcessStatus = amp.lastCmdIndex.load();
  trace("--------------------------------------- ERROR LINEAR: RETRAY %c%c (%d , %d)\n", l1, l2,
        total, count);
}

void InitMicroCmd(Works& works) {
  trace("Init CRT ... \n");
  works.amp.statusValid = 0;
  for (int index : {CmdVSM, CmdER0, CmdER1, CmdER2, CmdER3, CmdMP0}) {
    IncPNTIn_CMDLinear(index, works);
  }
  works.amp.tsRow = -1;
  SearchCambioSoglie_TS(works);
  works.amp.fanPercent = 100;
  works.amp.lastFanSent = 100;
  for (int index :
       {CmdFN, CmdAN, CmdSA, CmdFS, CmdMTwrite, CmdPS, CmdGM, CmdGSread, CmdCP, CmdMR0}) {
    IncPNTIn_CMDLinear(index, works);
  }
  works.ui.trxFreq = 1800000;
  IncPNTIn_CMDLinear(CmdFA, works);
  IncPNTIn_CMDLinear(CmdCM, works);
}

void WaitSemaforoTuneval(Works& works) {
  while (works.amp.tuneValueLock.exchange(true)) {
    std::this_thread::sleep_for(std::chrono::microseconds(1));
  }
}

void StopSemaforoTuneval(Works& works) {
  works.amp.tuneValueLock = false;
}

// ---- commands ----

namespace {

// Fixed-width fields of the micro's commands: a value that would not fit its digits is
// held at the nearest value that does, so a frame always has the layout the micro reads.
long fit(long value, long low, long high) {
  return std::clamp(value, low, high);
}

std::string format(const char* fmt, auto... args) {
  char text[64];
  std::snprintf(text, sizeof text, fmt, args...);
  return text;
}

std::string attenuatorText(int value) {
  static constexpr const char* kTexts[] = {"AT00;", "AT01;", "AT10;", "AT11;"};
  return kTexts[std::clamp(value, 0, 3)];
}

std::string tuneWrite(Works& works) {
  return format("MT1%08X;", static_cast<unsigned>(works.atu.tuneValue.load()));
}

void resetTune(AtuState& atu, uint32_t value) {
  atu.tuneValue = value;
  atu.tuneL = 0;
  atu.tuneC = 0;
}

// A change of the tune value made by the link itself, under the tune-value lock, and
// the text that sends it.
template <typename Change>
std::string lockedTuneWrite(Works& works, uint8_t bypassed, Change change) {
  WaitSemaforoTuneval(works);
  change();
  works.atu.tunerBypassed = bypassed;
  std::string text = tuneWrite(works);
  StopSemaforoTuneval(works);
  return text;
}

}  // namespace

std::string buildCommand(Works& works, int index, char letters[2]) {
  AmpState& amp = works.amp;
  AtuState& atu = works.atu;
  Settings& set = works.set;
  auto use = [&](const char* two, std::string text) {
    letters[0] = two[0];
    letters[1] = two[1];
    return text;
  };
  switch (index) {
    case CmdVSM:
      return use("VS", "VSM;");
    case CmdST:
      return use("ST", "ST;");
    case CmdSA:
      return use("SA", format("SA%ld;", fit(set.NumAntenna.load() + 1, 0, 9)));
    case CmdFM:
      return use("FM", "FM;");
    case CmdFA:
      return use("FA", format("FA%011lu;", static_cast<unsigned long>(works.ui.trxFreq.load())));
    case CmdMTread:
      return use("MT", "MT;");
    case CmdMTwrite: {
      const std::string text = tuneWrite(works);
      atu.tunerBypassed = (atu.tuneValue.load() >> 16) & 1;
      return use("MT", text);
    }
    case CmdFS:
      return use("SF", format("FS%01ld%04ld;", fit(set.FreqSensIn.load(), 0, 9),
                              fit(set.FreqPeriodTime.load() / 10, 0, 9999)));
    case CmdCP:
      return use("CP", "CPFFFF;");
    case CmdATstep:
      return use("AT", attenuatorText(atu.attStep.load()));
    case CmdATtune:
      return use("AT", attenuatorText(set.AttenuatorTune.load()));
    case CmdATmax:
      return use("AT", attenuatorText(3));
    case CmdMP0:
      return use("MP", "MP0;");
    case CmdMP1:
      return use("MP", "MP1;");
    case CmdAB0:
      amp.ampBypassRequest = 0;
      trace(">> AB0;\n");
      return use("AB", "AB0;");
    case CmdAB1:
      amp.ampBypassRequest = 1;
      atu.attSelect = 4;
      trace(">> AB1;\n");
      return use("AB", "AB1;");
    case CmdAN: {
      std::string text = format("AN%ld;", fit(atu.antennaInUse.load(), 0, 9));
      trace(">> %s\n", text.c_str());
      return use("AN", text);
    }
    case CmdTS:
      return use("TS", format("TS%04ld%04ld%04ld%04ld;", fit(amp.tsPwrIn.load(), 0, 9999),
                              fit(amp.tsFwd.load(), 0, 9999), fit(amp.tsRefl.load(), 0, 9999),
                              fit(amp.tsCurrent.load(), 0, 9999)));
    case CmdFN: {
      const int mode = set.FANmode.load();
      const long percent = fit(amp.fanPercent.load(), 0, 999);
      std::string text = format((mode == 1 || mode == 2) ? "FN2%03ld;" : "FN1%03ld;", percent);
      amp.lastFanSent = static_cast<int>(percent);
      amp.fanCmdPending = 0;
      trace(">> ++++FAN SET :  %s\n", text.c_str());
      return use("FN", text);
    }
    case CmdPS: {
      std::string text = format("PS%04ld%04ld%04ld%04ld;", fit(set.PSpar1.load(), 0, 9999),
                                fit(set.PSpar2.load(), 0, 9999), fit(set.PSpar3.load(), 0, 9999),
                                fit(set.PSpar4.load(), 0, 9999));
      trace(">> %s\n", text.c_str());
      return use("PS", text);
    }
    case CmdMTmemory:
      return use("MT", lockedTuneWrite(works, 0, [&] {
                   if (works.amp.hooks.LoadTuneFromMEM != nullptr)
                     works.amp.hooks.LoadTuneFromMEM(works);
                 }));
    case CmdSF: {
      std::string text =
          format("SF30000%02x;", static_cast<unsigned>(works.bands.filterMask.load()));
      trace(">> %s\n", text.c_str());
      return use("SF", text);
    }
    case CmdMR1:
      return use("MR", "MR1;");
    case CmdMR0:
      return use("MR", "MR0;");
    case CmdGM: {
      std::string text =
          format("GM%04ld%04ld;", fit(set.GMpar1.load(), 0, 9999), fit(set.GMpar2.load(), 0, 9999));
      trace(">> %s\n", text.c_str());
      return use("GM", text);
    }
    case CmdGSread:
      trace(">>r: %s\n", "GS;");
      return use("GS", "GS;");
    case CmdGSwrite: {
      std::string settings = amp.generalSettings.get();
      if (settings.size() >= 2) {
        const int c = static_cast<unsigned char>(settings[1]);
        settings[1] = static_cast<char>(
            works.bands.freqInterface.load() == FreqInterface::Generic ? (c | 0x02) : (c & ~0x02));
        amp.generalSettings.set(settings);
      }
      return use("GS", "GS" + settings + ";");
    }
    case CmdER0:
      return use("ER", "ER0000;");
    case CmdER1:
      return use("ER", "ER0001;");
    case CmdER2:
      return use("ER", "ER0002;");
    case CmdER3:
      return use("ER", "ER0003;");
    case CmdMTbypass:  // bypass keeping L and C
      return use("MT", lockedTuneWrite(works, 1, [&] {
                   atu.tuneValue = (atu.tuneValue.load() | 0x10000u) & ~((1u << 18) | (1u << 23));
                 }));
    case CmdMTdefault: {  // CL network, L 0, C 0
      std::string text = lockedTuneWrite(works, 0, [&] { resetTune(atu, 0x800000u); });
      trace(">>WR MEM TUNE_DEFAULT: %s\n", text.c_str());
      return use("MT", text);
    }
    case CmdFNcpu: {
      std::string text = format("FN1%03ld;", fit(amp.cpuFanPercent.load(), 0, 999));
      trace(">>CPU %s\n", text.c_str());
      return use("FN", text);
    }
    case CmdCM: {
      std::string text = format("CM%01.09f;", amp.powerMultiplier.load());
      trace("--------------------------------------------- MOLTIPLICATORE %s \n", text.c_str());
      return use("CM", text);
    }
    case CmdMTbypassZero:  // bypass with L 0, C 0
      return use("MT", lockedTuneWrite(works, 1, [&] { resetTune(atu, 0x10000u); }));
    default:
      return {};
  }
}

// ---- the port and the thread ----

int OpenLinear(Works& works, platform::SerialPort& port, bool report) {
  const std::string device = works.set.text.text(Slot::LinPort);
  if (report) logInfo("Init Linear Port %s", device.c_str());
  // 115200 8N1, raw; a read returns after a byte or half a second.
  const platform::SerialConfig config{.speed = B115200,
                                      .inputFlags = IGNPAR,
                                      .outputFlags = 0,
                                      .controlFlags = CS8 | CREAD | CLOCAL | HUPCL,
                                      .localFlags = 0,
                                      .minChars = 1,
                                      .timeTenths = 5};
  auto opened = platform::SerialPort::openDevice(device, config);
  if (!opened.ok()) {
    const bool openFailed = opened.error() != ENOTTY && opened.error() != EINVAL;
    const char* what = openFailed ? "Unable to open device %s" : "Unable to set comm port %s";
    if (report) {
      logError(what, device.c_str());
      trace(what, device.c_str());
      trace("\n");
    }
    char text[104];
    std::snprintf(
        text, sizeof text,
        openFailed ? "Linear: Unable to open device %s" : "Linear: Unable to set comm port %s",
        device.c_str());
    works.amp.linkErrorText.set(text);
    works.amp.linkFailed = 1;
    return -1;
  }
  port = std::move(opened.value());
  trace("OK works->linFD=%d (%s) stato:%d\n", port.fd(), device.c_str(),
        works.amp.linearProcessStatus.load());
  logInfo("OK works->linFD=%d (%s)", port.fd(), device.c_str());
  works.amp.linkFailed = 0;
  return 0;
}

namespace {

// Consecutive port failures after which the port is closed and opened again.
constexpr int kReopenAfterErrors = 10;
// Pause before the port is opened again.
constexpr int kReopenPauseMs = 2000;

void sendCommand(Works& works, platform::ByteStream& port, LinkReceiver& receiver, int index) {
  AmpState& amp = works.amp;
  char letters[2] = {'-', '-'};
  const std::string text = buildCommand(works, index, letters);
  if (text.empty()) {
    // An index that sends nothing (a stale or unknown entry): back to the status poll.
    amp.linearProcessStatus = CmdST;
    return;
  }
  LastCmdSent(works, letters[0], letters[1], index);
  receiver.reply.clear();
  if (writeLinearPort(port, text, works) < 0) {
    ++receiver.ioErrors;
    const std::string device = works.set.text.text(Slot::LinPort);
    char message[104];
    std::snprintf(message, sizeof message, "Linear: Unable to write device %s", device.c_str());
    works.amp.linkErrorText.set(message);
    works.amp.linkFailed = 1;
    logError("Unable to write device %s", device.c_str());
    // Back off, then count it as a missing reply: the command is retried.
    platform::sleepMs(1000);
    GestRetrayCMD(works);
    return;
  }
  receiver.ioErrors = 0;
  if (works.amp.linkFailed.load() == 1) works.amp.linkFailed = 0;
  amp.linearProcessStatus = index == CmdMR1 ? StateIdle : StateReceive;
}

// Takes bytes up to and including ';'. True when a whole reply is held.
bool takeBytes(LinkReceiver& receiver) {
  size_t used = 0;
  bool complete = false;
  for (; used < receiver.pending.size(); ++used) {
    if (receiver.reply.size() > kReplyMax - 1) {
      receiver.reply.clear();
      trace("<<<<<<<<<<<<<<<<<<<<ERROR COUNTER LINEAR (CounterLinear)\n");
    }
    const char c = receiver.pending[used];
    receiver.reply += c;
    if (c == ';') {
      ++used;
      complete = true;
      break;
    }
  }
  receiver.pending.erase(0, used);
  return complete;
}

void receive(Works& works, platform::ByteStream& port, LinkReceiver& receiver) {
  AmpState& amp = works.amp;
  if (receiver.pending.empty()) {
    uint8_t buffer[256];
    const long n = port.read(buffer, 1);
    if (n == 0) {
      if (++amp.counterrortimeout > kReplyTimeoutLooks - 1) GestRetrayCMD(works);
      return;
    }
    if (n < 0) {
      logError("timeout %ld\n", n);
      ++receiver.ioErrors;
      GestRetrayCMD(works);
      platform::sleepMs(20);
      return;
    }
    receiver.ioErrors = 0;
    receiver.pending.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
  }
  if (!takeBytes(receiver)) return;
  const std::string& reply = receiver.reply;
  if (reply.size() < 3) {
    // A lone ';' or a checksum with nothing after it: no reply to decode; the command
    // is sent again rather than leaving the link waiting, after the same pause as every
    // other reply, so a line that keeps answering ';' cannot drive a hot loop.
    GestRetrayCMD(works);
    receiver.reply.clear();
    platform::sleepMs(20);
    return;
  }
  char computed[3];
  std::snprintf(computed, sizeof computed, "%02X",
                Sys_Crc8Calculation(std::string_view(reply).substr(2)));
  if (reply[0] != computed[0] || reply[1] != computed[1]) {
    trace("**** CHK ERROR!! %s %s\n", computed, reply.c_str());
    // A corrupted reply is never decoded: the same command goes out again.
    GestRetrayCMD(works);
    receiver.reply.clear();
    platform::sleepMs(20);
    return;
  }
  amp.linearProcessStatus = StateDecode;
}

}  // namespace

bool linkStep(Works& works, platform::ByteStream& port, LinkReceiver& receiver) {
  AmpState& amp = works.amp;
  const int state = amp.linearProcessStatus.load();
  switch (state) {
    case StateReceive:
      receive(works, port, receiver);
      break;
    case StateDecode: {
      const std::string reply = std::move(receiver.reply);
      receiver.reply.clear();
      DecodeCatCmd(works, std::string_view(reply).substr(2), static_cast<int>(reply.size()));
      break;
    }
    case StateIdle:
      platform::sleepMs(1000);
      break;
    default:
      sendCommand(works, port, receiver, state);
      break;
  }
  return receiver.ioErrors < kReopenAfterErrors;
}

void Linear(Works& works) {
  works.amp.linearProcessStatus = CmdST;
  bool report = true;  // a port that stays missing is reported once, not every retry
  while (works.core.running.load() != 0) {
    platform::SerialPort port;
    if (OpenLinear(works, port, report) != 0) {
      report = false;
      // Keep the error on the panel and try again later: the port may appear.
      for (int i = 0; i < kReopenPauseMs / 100 && works.core.running.load() != 0; ++i) {
        platform::sleepMs(100);
      }
      continue;
    }
    report = true;
    LinkReceiver receiver;
    while (works.core.running.load() != 0) {
      if (!linkStep(works, port, receiver)) {
        logError("Linear: port failing, opening it again");
        platform::sleepMs(kReopenPauseMs);
        break;
      }
    }
  }
}

}  // namespace corvid
