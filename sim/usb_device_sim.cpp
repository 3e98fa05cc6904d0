#include "sim/usb_device_sim.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numbers>

#include "sim/standins.h"

namespace corvid::bench {

double usbSpectrumPoint(double offsetHz, double sampleRate, int points) {
  const int n = points > 854 ? 4096 : 2048;
  const int first = points > 854 ? 341 : 170;
  const double bin = offsetHz * n / sampleRate;
  return (n / 2 + bin - first) / 2;
}

}  // namespace corvid::bench

#if CORVID_HAVE_UMOCKDEV

#include <link.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>

#include "sim/faults.h"

#if defined(__SANITIZE_THREAD__)
// GLib, umockdev and cpp-httplib are not built for ThreadSanitizer: what they synchronise
// among themselves it cannot see (the test bed's worker thread; the web view's worker
// threads, where the first request builds what the library keeps for later ones). One
// list for the whole program: the bench links both.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libglib-2.0.so\nrace:libgobject-2.0.so\nrace:libgio-2.0.so\nrace:libumockdev.so\n"
         "race:libcpp-httplib.so\n";
}
#endif

namespace corvid::bench {

namespace {

using Clock = std::chrono::steady_clock;

// The path of the sanitizer runtime this process runs with (the controller is built with
// the same one), empty without.
std::string sanitizerRuntime() {
  std::string found;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        const std::string_view name = info->dlpi_name != nullptr ? info->dlpi_name : "";
        for (const char* runtime : {"/libasan.so", "/libtsan.so", "/libubsan.so"}) {
          if (name.find(runtime) != std::string_view::npos) {
            *static_cast<std::string*>(out) = std::string(name);
            return 1;
          }
        }
        return 0;
      },
      &found);
  return found;
}

constexpr uint16_t kAudioVendor = 0x0d8c;
constexpr uint16_t kAudioProduct = 0x01af;
constexpr uint8_t kStreamEndpoint = 0x86;
constexpr const char* kPexNode = "/dev/bus/usb/001/002";
constexpr const char* kAudioNode = "/dev/bus/usb/001/003";

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char two[3];
  for (const uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    text += two;
  }
  return text;
}

// Device descriptor, then the configuration with its interfaces and endpoints, as the
// kernel shows them in the device's "descriptors" attribute.
std::vector<uint8_t> pexDescriptors(uint16_t product) {
  return {
      0x12, 0x01, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x40,  // USB 2.0, vendor class, 64-byte EP0
      0x21, 0x17, static_cast<uint8_t>(product), static_cast<uint8_t>(product >> 8),
      0x00, 0x01, 0x01, 0x02, 0x03, 0x01,              // device 1.00, strings 1 2 3, 1 config
      0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,  // 25 bytes, 1 interface, 100 mA
      0x09, 0x04, 0x00, 0x00, 0x01, 0xFF, 0x00, 0x00, 0x00,  // interface 0, 1 endpoint
      0x07, 0x05, kStreamEndpoint, 0x02, 0x00, 0x02, 0x00,   // bulk IN 0x86, 512 bytes
  };
}

std::vector<uint8_t> audioDescriptors() {
  return {
      0x12, 0x01, 0x10, 0x01, 0x00, 0x00, 0x00, 0x08, 0x8C, 0x0D, 0xAF, 0x01,
      0x00, 0x01, 0x01, 0x02, 0x00, 0x01,
      0x09, 0x02, 0x12, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
      0x09, 0x04, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,  // audio control, no endpoints
  };
}

std::string deviceText(const char* sysPath, int address, uint16_t vendor, uint16_t product,
                       const std::vector<uint8_t>& descriptors) {
  char text[1024];
  std::snprintf(text, sizeof text,
                "P: %s\nN: bus/usb/001/%03d\nE: DEVNAME=/dev/bus/usb/001/%03d\n"
                "E: DEVTYPE=usb_device\nE: DRIVER=usb\nE: PRODUCT=%x/%x/100\n"
                "E: SUBSYSTEM=usb\nE: BUSNUM=001\nE: DEVNUM=%03d\nA: busnum=1\nA: devnum=%d\n"
                "A: idVendor=%04x\nA: idProduct=%04x\nA: speed=480\nA: bConfigurationValue=1\n",
                sysPath, address, address, static_cast<unsigned>(vendor),
                static_cast<unsigned>(product), address, address, static_cast<unsigned>(vendor),
                static_cast<unsigned>(product));
  return std::string(text) + "H: descriptors=" + hex(descriptors) + "\n\n";
}

// A URB between its submission and its reaping: the client's memory of the URB and of
// its buffer, copied here; the changes go back to the client when it is reaped.
struct Urb {
  UMockdevIoctlData* urb = nullptr;  // one reference held
  UMockdevIoctlData* buffer = nullptr;
  usbdevfs_urb* fields() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
};

struct Client {
  bool pex = false;
  std::deque<Urb> pending;  // bulk IN URBs waiting for their samples
  std::deque<Urb> done;     // to be reaped, in order
};

void release(Urb& u) {
  if (u.urb != nullptr) g_object_unref(u.urb);
  u.urb = nullptr;
}

}  // namespace

struct UsbDeviceSimulator::Impl {
  UsbSimOptions options;
  UMockdevTestbed* testbed = nullptr;
  UMockdevIoctlBase* handler = nullptr;
  std::filesystem::path dir;
  std::filesystem::path lsusbAnswer;  // written at the start, removed at the end

  mutable std::mutex mutex;
  std::map<UMockdevIoctlClient*, Client> clients;
  UsbSimFigures figures;
  std::vector<UsbTone> tones;
  bool stall = false;
  bool timeout = false;
  bool faultStall = false;
  bool faultTimeout = false;
  uint64_t sampleIndex = 0;
  uint64_t noiseState = 0x9E3779B97F4A7C15ull;

  std::atomic<bool> stopping{false};
  std::thread pacer;

  ~Impl() {
    stopping = true;
    if (pacer.joinable()) pacer.join();
    if (testbed != nullptr) {
      umockdev_testbed_detach_ioctl(testbed, kPexNode, nullptr);
      if (options.audio) umockdev_testbed_detach_ioctl(testbed, kAudioNode, nullptr);
    }
    {
      std::scoped_lock lock(mutex);
      for (auto& [client, state] : clients) {
        for (Urb& u : state.pending) release(u);
        for (Urb& u : state.done) release(u);
      }
      clients.clear();
    }
    if (handler != nullptr) g_object_unref(handler);
    if (testbed != nullptr) g_object_unref(testbed);
    std::error_code ec;
    if (!lsusbAnswer.empty()) std::filesystem::remove(lsusbAnswer, ec);
  }

  void note(const std::string& request) {
    figures.requests.push_back(request);
    if (figures.requests.size() > 200) figures.requests.erase(figures.requests.begin());
  }

  // The answer of the transceiver to one vendor request: the bytes, or -1 (stall).
  int answerControl(bool pex, uint8_t requestType, uint8_t request, uint16_t value,
                    uint16_t index, uint8_t* data, uint16_t length) {
    auto put = [&](const void* bytes, size_t n) {
      const size_t moved = std::min<size_t>(n, length);
      std::memcpy(data, bytes, moved);
      return static_cast<int>(moved);
    };
    if (!pex || requestType != 0xC0) return -1;
    if (request == 0xFF && value == 0 && index == 0) {
      const uint8_t version[2] = {2, 7};
      return put(version, 2);
    }
    if (request == 0xA2 && index == 0x0151) {
      if (value == 0x404C) {
        const uint8_t version[2] = {1, 3};
        return put(version, 2);
      }
      if (value == 0x4000) {
        char serial[32] = {};
        std::memcpy(serial, options.serial.data(), std::min<size_t>(options.serial.size(), 31));
        return put(serial, options.shortSerial ? 16 : 32);
      }
      const float* offset = value == 0x4028   ? &options.globalOffset
                            : value == 0x402C ? &options.lpOffset
                            : value == 0x4030 ? &options.attOffset
                                              : nullptr;
      if (offset != nullptr) {
        uint8_t bytes[4];
        std::memcpy(bytes, offset, 4);  // the bench runs little-endian, as the unit
        return put(bytes, 4);
      }
      return -1;
    }
    if (request == 0xE1 && (index == 0xE900 || index == 0xE800)) {
      if (value == 1 && index == 0xE900) {
        const uint8_t reply = options.refuseSyn ? 0x00 : 0xE9;
        figures.synOn = !options.refuseSyn;
        return put(&reply, 1);
      }
      if (value == 0) {
        if (index == 0xE900) figures.synOn = false;
        const uint8_t reply = 0x00;
        return put(&reply, 1);
      }
    }
    return -1;
  }

  // ioctls on a device node, in umockdev's worker thread.
  gboolean onIoctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    std::scoped_lock lock(mutex);
    Client& state = clients[client];
    state.pex = std::strcmp(umockdev_ioctl_client_get_devnode(client), kPexNode) == 0;
    auto finish = [&](long result, int err) {
      umockdev_ioctl_client_complete(client, result, err);
      return TRUE;
    };
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), &error);
        if (caps == nullptr) break;
        const uint32_t value = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                               USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        std::memcpy(caps->data, &value, sizeof value);
        return finish(0, 0);
      }
      case USBDEVFS_SUBMITURB:
        return submit(client, state, arg);
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: {
        if (state.done.empty()) return finish(-1, EAGAIN);
        UMockdevIoctlData* where = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &error);
        if (where == nullptr) break;
        Urb u = state.done.front();
        state.done.pop_front();
        umockdev_ioctl_data_set_ptr(where, 0, u.urb);
        umockdev_ioctl_client_complete(client, 0, 0);
        release(u);
        return TRUE;
      }
      case USBDEVFS_DISCARDURB: {
        // The argument is the client's address of the URB.
        const gulong address = *reinterpret_cast<const gulong*>(arg->data);
        for (auto it = state.pending.begin(); it != state.pending.end(); ++it) {
          if (it->urb->client_addr != address) continue;
          it->fields()->status = -ENOENT;
          it->fields()->actual_length = 0;
          state.done.push_back(*it);
          state.pending.erase(it);
          ++figures.discarded;
          return finish(0, 0);
        }
        return finish(-1, EINVAL);
      }
      case USBDEVFS_GETDRIVER:
        return finish(-1, ENODATA);  // no kernel driver holds an interface
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_SETINTERFACE:
      case USBDEVFS_SETCONFIGURATION:
      case USBDEVFS_CLEAR_HALT:
      case USBDEVFS_RESET:
      case USBDEVFS_IOCTL:
        return finish(0, 0);
      default:
        return finish(-1, ENOTTY);
    }
    if (error != nullptr) g_error_free(error);
    return finish(-1, EFAULT);
  }

  gboolean submit(UMockdevIoctlClient* client, Client& state, UMockdevIoctlData* arg) {
    GError* error = nullptr;
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
    if (urbData == nullptr) {
      g_error_free(error);
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return TRUE;
    }
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    if (urb->buffer_length < 0 || urb->buffer_length > (1 << 24)) {
      umockdev_ioctl_client_complete(client, -1, EINVAL);
      return TRUE;
    }
    Urb u;
    u.urb = urbData;
    u.buffer = umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                           static_cast<gsize>(urb->buffer_length), &error);
    if (u.buffer == nullptr) {
      g_error_free(error);
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return TRUE;
    }
    g_object_ref(urbData);
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
      if (urb->buffer_length < 8) {
        release(u);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
      }
      uint8_t* b = u.buffer->data;
      const uint16_t value = static_cast<uint16_t>(b[2] | b[3] << 8);
      const uint16_t index = static_cast<uint16_t>(b[4] | b[5] << 8);
      const uint16_t wanted = static_cast<uint16_t>(b[6] | b[7] << 8);
      const uint16_t room = static_cast<uint16_t>(std::min<int>(wanted, urb->buffer_length - 8));
      char text[40];
      std::snprintf(text, sizeof text, "%02X %04X %04X %u", b[1], static_cast<unsigned>(value),
                    static_cast<unsigned>(index), static_cast<unsigned>(wanted));
      note(text);
      ++figures.controls;
      const int n = answerControl(state.pex, b[0], b[1], value, index, b + 8, room);
      urb->status = n < 0 ? -EPIPE : 0;
      urb->actual_length = n < 0 ? 0 : n;
      state.done.push_back(u);
    } else if (urb->type == USBDEVFS_URB_TYPE_BULK && urb->endpoint == kStreamEndpoint &&
               state.pex) {
      state.pending.push_back(u);
    } else {
      release(u);
      umockdev_ioctl_client_complete(client, -1, ENOENT);
      return TRUE;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
  }

  void onConnected(UMockdevIoctlClient* client) {
    std::scoped_lock lock(mutex);
    clients[client];
    ++figures.opens;
  }

  void onVanished(UMockdevIoctlClient* client) {
    std::scoped_lock lock(mutex);
    auto it = clients.find(client);
    if (it == clients.end()) return;
    for (Urb& u : it->second.pending) release(u);
    for (Urb& u : it->second.done) release(u);
    clients.erase(it);
  }

  double gaussian() {
    auto next = [&] {
      noiseState ^= noiseState << 13;
      noiseState ^= noiseState >> 7;
      noiseState ^= noiseState << 17;
      return (static_cast<double>(noiseState >> 11) + 0.5) / 9007199254740992.0;
    };
    const double u1 = next();
    const double u2 = next();
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2);
  }

  // The next samples of the stream into a URB's buffer.
  void fill(uint8_t* data, size_t bytes) {
    constexpr double kFull = 2147483647.0;
    const double noise = kFull * std::pow(10.0, options.noiseDbfs / 20) / std::numbers::sqrt2;
    for (size_t i = 0; i + 8 <= bytes; i += 8, ++sampleIndex) {
      double re = noise * gaussian();
      double im = noise * gaussian();
      for (const UsbTone& tone : tones) {
        const double cycles = std::fmod(static_cast<double>(sampleIndex) * tone.offsetHz /
                                            options.sampleRate,
                                        1.0);
        const double a = kFull * std::pow(10.0, tone.dbfs / 20);
        re += a * std::cos(2 * std::numbers::pi * cycles);
        im += a * std::sin(2 * std::numbers::pi * cycles);
      }
      const int32_t iq[2] = {static_cast<int32_t>(std::clamp(std::lround(re), -2147483647L - 1,
                                                             2147483647L)),
                             static_cast<int32_t>(std::clamp(std::lround(im), -2147483647L - 1,
                                                             2147483647L))};
      std::memcpy(data + i, iq, sizeof iq);
    }
  }

  void pace() {
    auto next = Clock::now();
    auto faultsRead = Clock::now();
    while (!stopping) {
      std::this_thread::sleep_until(std::min(next, Clock::now() + std::chrono::milliseconds(5)));
      const auto now = Clock::now();
      if (options.watchFaultsFile && now - faultsRead > std::chrono::milliseconds(100)) {
        faultsRead = now;
        const Faults faults = Faults::load(options.root / "bench" / "faults");
        std::scoped_lock lock(mutex);
        faultStall = faults.status("usb-stall").has_value();
        faultTimeout = faults.status("usb-timeout").has_value();
      }
      if (now < next) continue;
      std::scoped_lock lock(mutex);
      size_t bytes = 32768;
      for (auto& [client, state] : clients) {
        if (state.pending.empty()) continue;
        if (timeout || faultTimeout || !figures.synOn) continue;
        Urb u = state.pending.front();
        state.pending.pop_front();
        usbdevfs_urb* urb = u.fields();
        bytes = static_cast<size_t>(urb->buffer_length);
        if (stall || faultStall) {
          urb->status = -EPIPE;
          urb->actual_length = 0;
          ++figures.bulkFailed;
        } else {
          fill(u.buffer->data, bytes);
          urb->status = 0;
          urb->actual_length = urb->buffer_length;
          ++figures.bulkCompleted;
        }
        state.done.push_back(u);
      }
      // One URB's worth of samples later (a short sleep when nothing was asked).
      const double seconds = static_cast<double>(std::max<size_t>(bytes, 8) / 8) /
                             options.sampleRate;
      next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
      if (next < now - std::chrono::milliseconds(100)) next = now;  // fell behind: go on
    }
  }
};

namespace {

gboolean handleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  return static_cast<UsbDeviceSimulator::Impl*>(self)->onIoctl(client);
}
void clientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  static_cast<UsbDeviceSimulator::Impl*>(self)->onConnected(client);
}
void clientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  static_cast<UsbDeviceSimulator::Impl*>(self)->onVanished(client);
}

}  // namespace

bool UsbDeviceSimulator::available() {
  return true;
}

std::unique_ptr<UsbDeviceSimulator> UsbDeviceSimulator::start(const UsbSimOptions& options,
                                                              std::string& error) {
  auto impl = std::make_unique<Impl>();
  impl->options = options;
  impl->tones = options.tones;
  impl->stall = options.stall;
  impl->timeout = options.timeout;
  impl->testbed = umockdev_testbed_new();
  if (impl->testbed == nullptr) {
    error = "umockdev: cannot make a test bed";
    return nullptr;
  }
  gchar* rootDir = umockdev_testbed_get_root_dir(impl->testbed);  // ours to free
  impl->dir = rootDir;
  g_free(rootDir);
  std::string devices =
      deviceText("/devices/pci0000:00/0000:00:14.0/usb1/1-1", 2, 0x1721, options.product,
                 pexDescriptors(options.product));
  if (options.audio) {
    devices += deviceText("/devices/pci0000:00/0000:00:14.0/usb1/1-2", 3, kAudioVendor,
                          kAudioProduct, audioDescriptors());
  }
  GError* gerror = nullptr;
  if (!umockdev_testbed_add_from_string(impl->testbed, devices.c_str(), &gerror)) {
    error = std::string("umockdev: ") + gerror->message;
    g_error_free(gerror);
    return nullptr;
  }
  impl->handler = umockdev_ioctl_base_new();
  g_signal_connect(impl->handler, "handle-ioctl", G_CALLBACK(handleIoctl), impl.get());
  g_signal_connect(impl->handler, "client-connected", G_CALLBACK(clientConnected), impl.get());
  g_signal_connect(impl->handler, "client-vanished", G_CALLBACK(clientVanished), impl.get());
  for (const char* node : {kPexNode, kAudioNode}) {
    if (node == kAudioNode && !options.audio) continue;
    if (!umockdev_testbed_attach_ioctl(impl->testbed, node, impl->handler, &gerror)) {
      error = std::string("umockdev: ") + gerror->message;
      g_error_free(gerror);
      return nullptr;
    }
  }
  if (!options.root.empty()) {
    // What lsusb would print on this machine.
    std::string lines = lsusbLine(1, 1, 0x1d6b, 0x0002, "Linux Foundation 2.0 root hub");
    lines += lsusbLine(1, 2, 0x1721, options.product, "");
    if (options.audio) {
      lines += lsusbLine(1, 3, kAudioVendor, kAudioProduct,
                         "C-Media Electronics, Inc. Audio Adapter");
    }
    std::error_code ec;
    std::filesystem::create_directories(options.root / "bench" / "answers", ec);
    const auto answer = options.root / "bench" / "answers" / "lsusb";
    const auto temp = answer.string() + ".tmp";
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out << lines;
    }
    std::filesystem::rename(temp, answer, ec);
    if (!ec) impl->lsusbAnswer = answer;
  }
  Impl* raw = impl.get();
  impl->pacer = std::thread([raw] { raw->pace(); });
  return std::unique_ptr<UsbDeviceSimulator>(new UsbDeviceSimulator(std::move(impl)));
}

std::vector<std::string> UsbDeviceSimulator::environment() const {
  // A sanitizer's runtime must come before the preload library: its interceptors then
  // see the controller's own calls (and ASan checks that it comes first).
  std::string preload = "libumockdev-preload.so.0";
  if (const std::string runtime = sanitizerRuntime(); !runtime.empty()) {
    preload = runtime + ":" + preload;
  }
  return {"UMOCKDEV_DIR=" + impl_->dir.string(), "LD_PRELOAD=" + preload};
}

const std::filesystem::path& UsbDeviceSimulator::testbedDir() const {
  return impl_->dir;
}

UsbSimFigures UsbDeviceSimulator::figures() const {
  std::scoped_lock lock(impl_->mutex);
  return impl_->figures;
}

void UsbDeviceSimulator::setTones(std::vector<UsbTone> tones) {
  std::scoped_lock lock(impl_->mutex);
  impl_->tones = std::move(tones);
}

void UsbDeviceSimulator::setStall(bool on) {
  std::scoped_lock lock(impl_->mutex);
  impl_->stall = on;
}

void UsbDeviceSimulator::setTimeout(bool on) {
  std::scoped_lock lock(impl_->mutex);
  impl_->timeout = on;
}

UsbDeviceSimulator::UsbDeviceSimulator(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UsbDeviceSimulator::~UsbDeviceSimulator() = default;

}  // namespace corvid::bench

#else  // no umockdev in this build (the cross build): the bench has no USB devices

namespace corvid::bench {

struct UsbDeviceSimulator::Impl {
  std::filesystem::path dir;
};

bool UsbDeviceSimulator::available() {
  return false;
}
std::unique_ptr<UsbDeviceSimulator> UsbDeviceSimulator::start(const UsbSimOptions&,
                                                              std::string& error) {
  error = "this build has no umockdev: no emulated USB devices";
  return nullptr;
}
std::vector<std::string> UsbDeviceSimulator::environment() const {
  return {};
}
const std::filesystem::path& UsbDeviceSimulator::testbedDir() const {
  return impl_->dir;
}
UsbSimFigures UsbDeviceSimulator::figures() const {
  return {};
}
void UsbDeviceSimulator::setTones(std::vector<UsbTone>) {}
void UsbDeviceSimulator::setStall(bool) {}
void UsbDeviceSimulator::setTimeout(bool) {}
UsbDeviceSimulator::UsbDeviceSimulator(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UsbDeviceSimulator::~UsbDeviceSimulator() = default;

}  // namespace corvid::bench

#endif
