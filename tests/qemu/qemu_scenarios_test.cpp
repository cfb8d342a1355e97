// SPDX-License-Identifier: GPL-2.0-or-later
// Boots a small Linux guest under QEMU (software emulation) with one emulated CD-ROM drive and
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
  // The disc in the drive when `disc` is set; none: one.iso. A disc with a "<image>.md5"
  // beside it is mounted by the guest, which prints every file's checksum: they must be the
  // source's.
  const char* image = nullptr;
  bool levelOneNames = false;  // the mounted tree has ISO9660 level-1 names: checksums only
};

const Boot kBoots[] = {
    {"scsi_disc_change_held", "disc:scsi,change:scsi,held:scsi", "pc", "virtio-scsi-pci,id=scsi0",
     "scsi-cd,bus=scsi0.0,drive=cd0", true},
    {"scsi_empty", "empty:scsi", "pc", "virtio-scsi-pci,id=scsi0", "scsi-cd,bus=scsi0.0,drive=cd0", false},
    {"piix_disc_change_held", "disc:atapi,change:atapi,held:atapi", "pc", "", "ide-cd,bus=ide.1,unit=0,drive=cd0",
     true},
    {"ahci_empty_disc", "empty:atapi,disc:atapi", "q35", "", "ide-cd,bus=ide.0,drive=cd0", false},
    {"mount_hfsplus", "mount:hfsplus", "pc", "virtio-scsi-pci,id=scsi0", "scsi-cd,bus=scsi0.0,drive=cd0", true,
     "hfsplus.img"},
    {"mount_257_iso9660", "mount:iso9660", "pc", "virtio-scsi-pci,id=scsi0", "scsi-cd,bus=scsi0.0,drive=cd0", true,
     "hybrid257.img", true},
    {"mount_names_hfs", "mount:hfs", "pc", "virtio-scsi-pci,id=scsi0", "scsi-cd,bus=scsi0.0,drive=cd0", true,
     "hfsnames.img"},
    {"mount_513_hfs", "mount:hfs", "pc", "virtio-scsi-pci,id=scsi0", "scsi-cd,bus=scsi0.0,drive=cd0", true,
     "hybrid513.img"},
    {"mount_513_iso9660", "mount:iso9660", "pc", "virtio-scsi-pci,id=scsi0", "scsi-cd,bus=scsi0.0,drive=cd0", true,
     "hybrid513.img"},
    {"mount_514_hfsplus", "mount:hfsplus", "pc", "virtio-scsi-pci,id=scsi0", "scsi-cd,bus=scsi0.0,drive=cd0", true,
     "hybrid514.img"},
    {"mount_514_iso9660", "mount:iso9660", "pc", "virtio-scsi-pci,id=scsi0", "scsi-cd,bus=scsi0.0,drive=cd0", true,
     "hybrid514.img"},
};

fs::path guestDir() { return QUILLION_QEMU_GUEST_DIR; }

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
    if (::write(fd_, out.data(), out.size()) != static_cast<ssize_t>(out.size())) return "(monitor write failed)";
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
    while (text.find("(qemu) ") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
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
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kBootBoundSeconds + 15);
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
void PrintTo(const Boot& s, std::ostream* os) { *os << s.name; }

class QemuGuest : public ::testing::TestWithParam<Boot> {};

TEST_P(QemuGuest, Boot) {
  const Boot& s = GetParam();
  const fs::path dir = guestDir();
  const std::string qemu = quillion::test::findTool("qemu-system-x86_64");
  if (qemu.empty()) GTEST_SKIP() << "qemu-system-x86_64 is not installed (package qemu-system-x86)";
  if (!fs::exists(dir / "vmlinux") || !fs::exists(dir / "initramfs.cpio.gz")) {
    GTEST_SKIP() << "no guest prepared in " << dir << " (packages linux-image-amd64, busybox-static; "
                 << "see the qemu_prepare_guest test)";
  }
  TempDir temp;
  const fs::path socket = temp.path() / "monitor.sock";
  std::string drive = "if=none,id=cd0,media=cdrom";
  const std::string image = s.image != nullptr ? s.image : "one.iso";
  if (s.disc) drive += ",readonly=on,format=raw,file=" + (dir / image).string();
  const std::string append =
      std::string("console=ttyS0 panic=-1 quiet loglevel=1 quillion.scenario=") + s.scenarios;

  std::vector<std::string> argv = {"timeout", "-k", "5", std::to_string(kBootBoundSeconds), qemu,
                                   "-accel", "tcg", "-machine", s.machine, "-nodefaults", "-display", "none",
                                   "-no-reboot", "-m", "256", "-smp", "1", "-net", "none",
                                   "-kernel", (dir / "vmlinux").string(), "-initrd",
                                   (dir / "initramfs.cpio.gz").string(), "-append", append, "-drive", drive,
                                   "-serial", "stdio", "-monitor", "unix:" + socket.string() + ",server=on,wait=off"};
  // qboot with the kernel's PVH entry boots in a fraction of SeaBIOS's time.
  if (fs::exists("/usr/share/qemu/qboot.rom")) {
    argv.insert(argv.end(), {"-bios", "/usr/share/qemu/qboot.rom"});
  }
  if (*s.controller) argv.insert(argv.end(), {"-device", s.controller});
  argv.insert(argv.end(), {"-device", s.drive});

  const Console result = boot(argv, socket);
  std::string missing;
  for (std::string list = s.scenarios; !list.empty();) {
    const std::size_t comma = list.find(',');
    const std::string scenario = list.substr(0, comma);
    list = comma == std::string::npos ? "" : list.substr(comma + 1);
    if (result.console.find("QUILLION-RESULT: PASS " + scenario + "\n") == std::string::npos) {
      missing += " " + scenario;
    }
  }
  const bool passed = missing.empty() && result.console.find("QUILLION-CHECK FAIL") == std::string::npos;
  EXPECT_TRUE(passed) << "not passed:" << missing << "\nguest console (exit " << result.exitStatus << "):\n"
                      << result.console;
  if (s.image == nullptr) return;
  const fs::path sums = dir / (image + ".md5");
  ASSERT_TRUE(fs::exists(sums)) << "the guest preparation made no " << sums;
  std::set<std::string> wanted, got;
  std::istringstream lines(quillion::test::readText(sums));
  const auto entry = [&s](const std::string& line) { return s.levelOneNames ? line.substr(0, 32) : line; };
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) wanted.insert(entry(line));
  std::istringstream console(result.console);
  constexpr std::string_view kFile = "QUILLION-FILE ";
  for (std::string line; std::getline(console, line);)
    if (const auto at = line.find(kFile); at != std::string::npos) got.insert(entry(line.substr(at + kFile.size())));
  EXPECT_EQ(got, wanted) << "guest console:\n" << result.console;
}

INSTANTIATE_TEST_SUITE_P(Qemu, QemuGuest, ::testing::ValuesIn(kBoots),
                         [](const ::testing::TestParamInfo<Boot>& p) { return std::string(p.param.name); });

}  // namespace
