// SPDX-License-Identifier: GPL-2.0-or-later
// Boots a small Linux guest under QEMU (software emulation) with emulated CD-ROM drives and
// runs the guest test program in it: our drive layer against an MMC implementation nobody here
// wrote. The guest reports on its serial console; a test passes only on the guest's PASS
// marker for its own scenario. The guest may ask for monitor commands (media changes from the
// host side), which are answered on the console.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

extern char** environ;

namespace fs = std::filesystem;
using quillion::test::TempDir;

namespace {

// Each boot is bounded by timeout(1); a guest that hangs cannot hold CI.
constexpr int kBootBoundSeconds = 180;

// Booting dominates a scenario's time, so the scenarios share boots: each boot runs its list
// in order, each scenario in a drive layer of its own, and every one must report PASS. A
// boot's scenarios start from the state the one before left (disc ends with one.iso loaded
// and unlocked, change ends with one.iso, held with big.iso). Each transport still starts
// once with a disc and once empty.
struct Boot {
  const char* name;        // test name
  const char* scenarios;   // what the guest program runs, in order
  const char* machine;     // QEMU machine type
  const char* controller;  // extra -device before the drive, or ""
  const char* drive;       // the drive's -device
  bool disc;               // one.iso in the drive at boot
};

const Boot kBoots[] = {
    {"scsi_disc_change_held", "disc:scsi,change:scsi,held:scsi", "pc", "virtio-scsi-pci,id=scsi0",
     "scsi-cd,bus=scsi0.0,drive=cd0", true},
    {"scsi_empty", "empty:scsi", "pc", "virtio-scsi-pci,id=scsi0", "scsi-cd,bus=scsi0.0,drive=cd0",
     false},
    {"piix_disc_change_held", "disc:atapi,change:atapi,held:atapi", "pc", "",
     "ide-cd,bus=ide.1,unit=0,drive=cd0", true},
    {"ahci_empty_disc", "empty:atapi,disc:atapi", "q35", "", "ide-cd,bus=ide.0,drive=cd0", false},
};

// The kernel's own file-system drivers as readers of our volumes: one boot attaches a SCSI
// CD-ROM drive per image and the guest mounts each listed (drive, driver) pair in turn,
// printing every file's checksum and every folder tagged with the pair; each pair's list
// must be the source's, from "<image>.md5" beside the image. A hybrid is one drive mounted
// with both of its drivers.
struct Mount {
  int drive;                   // index into the boot's images
  const char* driver;          // the kernel's file-system type
  bool levelOneNames = false;  // the tree has ISO9660 level-1 names: file checksums only
};

struct MountBoot {
  const char* name;
  std::vector<std::string> images;  // drive i holds images[i]
  std::vector<Mount> mounts;
};

const MountBoot kMountBoots[] = {
    {"mount_hfsplus_hybrids_udf",
     {"hfsplus.img", "hybrid257.img", "hybrid513.img", "hybrid514.img", "udf102.img", "udf150.img",
      "udfvideo.img", "hfsnames.img"},
     {{0, "hfsplus"},
      {1, "iso9660", true},
      {2, "iso9660"},
      {2, "hfs"},
      {3, "hfsplus"},
      {3, "iso9660"},
      {4, "udf"},
      {5, "udf"},
      {6, "udf"},
      {7, "hfs"}}},
};

fs::path guestDir() {
  return QUILLION_QEMU_GUEST_DIR;
}

// The monitor decorates its lines for a terminal: escape sequences and carriage returns go.
std::string withoutTerminalCodes(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
      i += 2;
      while (i < text.size() && !std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

// The human monitor over its Unix socket: a command, then everything up to the next prompt.
class Monitor {
 public:
  explicit Monitor(fs::path socket) : socket_(std::move(socket)) {}
  ~Monitor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  std::string command(const std::string& line) {
    if (fd_ < 0 && !connect()) return "(no monitor)";
    const std::string out = line + "\n";
    if (::write(fd_, out.data(), out.size()) != static_cast<ssize_t>(out.size()))
      return "(monitor write failed)";
    std::string reply = untilPrompt();
    // The monitor echoes the command and decorates the line; keep the answer only.
    reply = withoutTerminalCodes(reply);
    std::string answer;
    std::size_t at = 0;
    while (at < reply.size()) {
      const std::size_t end = reply.find('\n', at);
      std::string text = reply.substr(at, end == std::string::npos ? std::string::npos : end - at);
      at = end == std::string::npos ? reply.size() : end + 1;
      if (text.empty() || text.find(line) != std::string::npos) continue;
      answer += (answer.empty() ? "" : " ") + text;
    }
    return answer;
  }

 private:
  bool connect() {
    for (int attempt = 0; attempt < 50 && fd_ < 0; ++attempt) {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_.c_str());
      if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        fd_ = fd;
      } else {
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    if (fd_ < 0) return false;
    (void)untilPrompt();  // the greeting
    return true;
  }

  std::string untilPrompt() {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.find("(qemu) ") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      char buffer[512];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t prompt = text.rfind("(qemu) ");
    return prompt == std::string::npos ? text : text.substr(0, prompt);
  }

  fs::path socket_;
  int fd_ = -1;
};

struct Console {
  std::string console;  // everything the guest wrote
  int exitStatus = -1;
};

// Replaces "@name" in a monitor command by the fixture's path on this side.
std::string withFixturePaths(const std::string& command) {
  std::string out;
  for (std::size_t i = 0; i < command.size(); ++i) {
    if (command[i] != '@') {
      out.push_back(command[i]);
      continue;
    }
    std::size_t end = i + 1;
    while (end < command.size() && command[end] != ' ') ++end;
    out += (guestDir() / command.substr(i + 1, end - i - 1)).string();
    i = end - 1;
  }
  return out;
}

Console boot(const std::vector<std::string>& argv, const fs::path& monitorSocket) {
  Console result;
  int toGuest[2], fromGuest[2];
  if (::pipe2(toGuest, O_CLOEXEC) != 0 || ::pipe2(fromGuest, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toGuest[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromGuest[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fromGuest[1], 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toGuest[0]);
  ::close(fromGuest[1]);
  if (spawned != 0) {
    ::close(toGuest[1]);
    ::close(fromGuest[0]);
    result.console = "(could not start QEMU)";
    return result;
  }

  Monitor monitor(monitorSocket);
  std::string line;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(kBootBoundSeconds + 15);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fromGuest[0], POLLIN, 0};
    if (::poll(&p, 1, 500) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fromGuest[0], buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      const char c = buffer[i];
      if (c == '\r') continue;
      result.console.push_back(c);
      if (c != '\n') {
        line.push_back(c);
        continue;
      }
      constexpr std::string_view kAsk = "QUILLION-HOST ";
      const std::size_t ask = line.find(kAsk);
      if (ask != std::string::npos) {
        const std::string reply = monitor.command(withFixturePaths(line.substr(ask + kAsk.size())));
        result.console += "[monitor] " + reply + "\n";
        const std::string answer = "QUILLION-DONE " + reply + "\n";
        (void)!::write(toGuest[1], answer.data(), answer.size());
      }
      line.clear();
    }
  }
  ::close(toGuest[1]);
  ::close(fromGuest[0]);
  int status = 0;
  if (::waitpid(pid, &status, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);  // our own bound ran out before timeout(1)'s
    ::waitpid(pid, &status, 0);
  }
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// Test names show the scenario, not the record's bytes.
void PrintTo(const Boot& s, std::ostream* os) {
  *os << s.name;
}
void PrintTo(const MountBoot& s, std::ostream* os) {
  *os << s.name;
}

// Why the guest cannot boot here, or "" when it can.
std::string guestUnavailable(const std::string& qemu) {
  if (qemu.empty()) return "qemu-system-x86_64 is not installed (package qemu-system-x86)";
  const fs::path dir = guestDir();
  if (!fs::exists(dir / "vmlinux") || !fs::exists(dir / "initramfs.cpio.gz")) {
    return "no guest prepared in " + dir.string() +
           " (packages linux-image-amd64, busybox-static; see the qemu_prepare_guest test)";
  }
  return "";
}

// QEMU with the prepared guest running `scenarios`, bounded by timeout(1); the caller adds
// the controllers and drives.
std::vector<std::string> guestCommand(const std::string& qemu, const char* machine,
                                      const std::string& scenarios, const fs::path& socket) {
  const fs::path dir = guestDir();
  const std::string append =
      "console=ttyS0 panic=-1 quiet loglevel=1 quillion.scenario=" + scenarios;
  std::vector<std::string> argv = {"timeout",
                                   "-k",
                                   "5",
                                   std::to_string(kBootBoundSeconds),
                                   qemu,
                                   "-accel",
                                   "tcg",
                                   "-machine",
                                   machine,
                                   "-nodefaults",
                                   "-display",
                                   "none",
                                   "-no-reboot",
                                   "-m",
                                   "256",
                                   "-smp",
                                   "1",
                                   "-net",
                                   "none",
                                   "-kernel",
                                   (dir / "vmlinux").string(),
                                   "-initrd",
                                   (dir / "initramfs.cpio.gz").string(),
                                   "-append",
                                   append,
                                   "-serial",
                                   "stdio",
                                   "-monitor",
                                   "unix:" + socket.string() + ",server=on,wait=off"};
  // qboot with the kernel's PVH entry boots in a fraction of SeaBIOS's time.
  if (fs::exists("/usr/share/qemu/qboot.rom"))
    argv.insert(argv.end(), {"-bios", "/usr/share/qemu/qboot.rom"});
  return argv;
}

// The scenarios of a comma list that the guest did not report as passed, space-separated.
std::string notPassed(const Console& result, const std::string& scenarios) {
  std::string missing;
  for (std::string list = scenarios; !list.empty();) {
    const std::size_t comma = list.find(',');
    const std::string scenario = list.substr(0, comma);
    list = comma == std::string::npos ? "" : list.substr(comma + 1);
    if (result.console.find("QUILLION-RESULT: PASS " + scenario + "\n") == std::string::npos) {
      missing += " " + scenario;
    }
  }
  return missing;
}

class QemuGuest : public ::testing::TestWithParam<Boot> {};

TEST_P(QemuGuest, Boot) {
  const Boot& s = GetParam();
  const std::string qemu = quillion::test::findTool("qemu-system-x86_64");
  if (const std::string why = guestUnavailable(qemu); !why.empty()) GTEST_SKIP() << why;
  TempDir temp;
  const fs::path socket = temp.path() / "monitor.sock";
  std::string drive = "if=none,id=cd0,media=cdrom";
  if (s.disc) drive += ",readonly=on,format=raw,file=" + (guestDir() / "one.iso").string();
  std::vector<std::string> argv = guestCommand(qemu, s.machine, s.scenarios, socket);
  argv.insert(argv.end(), {"-drive", drive});
  if (*s.controller) argv.insert(argv.end(), {"-device", s.controller});
  argv.insert(argv.end(), {"-device", s.drive});

  const Console result = boot(argv, socket);
  const std::string missing = notPassed(result, s.scenarios);
  const bool passed =
      missing.empty() && result.console.find("QUILLION-CHECK FAIL") == std::string::npos;
  EXPECT_TRUE(passed) << "not passed:" << missing << "\nguest console (exit " << result.exitStatus
                      << "):\n"
                      << result.console;
}

INSTANTIATE_TEST_SUITE_P(Qemu, QemuGuest, ::testing::ValuesIn(kBoots),
                         [](const ::testing::TestParamInfo<Boot>& p) {
                           return std::string(p.param.name);
                         });

// "<drive>:<driver>", the tag the guest puts on a mount's lines.
std::string mountTag(const Mount& m) {
  return std::to_string(m.drive) + ":" + m.driver;
}

// What one mount should list: "<md5>  ./path" per file and "./path/" per folder, from the
// list made beside the image; with level-1 names, the file checksums alone.
std::multiset<std::string> wantedListing(const fs::path& sums, bool levelOneNames) {
  std::multiset<std::string> wanted;
  std::istringstream lines(quillion::test::readText(sums));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    const bool folder = line.back() == '/';
    if (!levelOneNames) {
      wanted.insert(line);
    } else if (!folder) {
      wanted.insert(line.substr(0, 32));
    }
  }
  return wanted;
}

// What the guest printed for the mount tagged `tag`, in the same form.
std::multiset<std::string> guestListing(const std::string& console, const std::string& tag,
                                        bool levelOneNames) {
  std::multiset<std::string> got;
  const std::string file = "QUILLION-FILE " + tag + " ";
  const std::string folder = "QUILLION-DIR " + tag + " ";
  std::istringstream lines(console);
  for (std::string line; std::getline(lines, line);) {
    if (const auto at = line.find(file); at != std::string::npos) {
      const std::string entry = line.substr(at + file.size());
      got.insert(levelOneNames ? entry.substr(0, 32) : entry);
    } else if (const auto dirAt = line.find(folder); dirAt != std::string::npos && !levelOneNames) {
      got.insert(line.substr(dirAt + folder.size()) + "/");
    }
  }
  return got;
}

class QemuMount : public ::testing::TestWithParam<MountBoot> {};

TEST_P(QemuMount, EveryFileAndFolder) {
  const MountBoot& s = GetParam();
  const std::string qemu = quillion::test::findTool("qemu-system-x86_64");
  if (const std::string why = guestUnavailable(qemu); !why.empty()) GTEST_SKIP() << why;
  const fs::path dir = guestDir();
  TempDir temp;
  const fs::path socket = temp.path() / "monitor.sock";
  std::string scenarios;
  for (const Mount& m : s.mounts)
    scenarios += (scenarios.empty() ? "mount:" : ",mount:") + mountTag(m);
  std::vector<std::string> argv = guestCommand(qemu, "pc", scenarios, socket);
  argv.insert(argv.end(), {"-device", "virtio-scsi-pci,id=scsi0"});
  const int drives = static_cast<int>(s.images.size());
  for (int i = 0; i < drives; ++i) {
    const fs::path image = dir / s.images[static_cast<std::size_t>(i)];
    ASSERT_TRUE(fs::exists(image)) << "the guest preparation made no " << image;
    const std::string id = "cd" + std::to_string(i);
    // Targets numbered against the drives' order, so that the kernel probes them the other
    // way round: a guest that took /dev/srN for drive N would mount the wrong discs.
    argv.insert(argv.end(),
                {"-drive",
                 "if=none,id=" + id + ",media=cdrom,readonly=on,format=raw,file=" + image.string(),
                 "-device",
                 "scsi-cd,bus=scsi0.0,drive=" + id + ",scsi-id=" + std::to_string(drives - 1 - i) +
                     ",product=QCD" + std::to_string(i)});
  }

  const Console result = boot(argv, socket);
  const std::string missing = notPassed(result, scenarios);
  EXPECT_EQ(missing, "") << "guest console (exit " << result.exitStatus << "):\n" << result.console;
  EXPECT_EQ(result.console.find("QUILLION-CHECK FAIL"), std::string::npos) << result.console;
  for (const Mount& m : s.mounts) {
    const std::string& image = s.images.at(static_cast<std::size_t>(m.drive));
    SCOPED_TRACE(image + " with " + m.driver);
    const fs::path sums = dir / (image + ".md5");
    ASSERT_TRUE(fs::exists(sums)) << "the guest preparation made no " << sums;
    const auto wanted = wantedListing(sums, m.levelOneNames);
    ASSERT_FALSE(wanted.empty()) << sums;
    EXPECT_EQ(guestListing(result.console, mountTag(m), m.levelOneNames), wanted)
        << "guest console:\n"
        << result.console;
  }
}

INSTANTIATE_TEST_SUITE_P(Qemu, QemuMount, ::testing::ValuesIn(kMountBoots),
                         [](const ::testing::TestParamInfo<MountBoot>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
