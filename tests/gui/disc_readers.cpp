// SPDX-License-Identifier: GPL-2.0-or-later
#include "disc_readers.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "run_support.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace quillion::test {

namespace {

// 7zz puts an HFS Plus volume's files under a folder named after the volume.
FileBytes withoutVolumeFolder(const FileBytes& files) {
  if (files.empty()) return files;
  const std::string first = files.begin()->first;
  const auto slash = first.find('/');
  if (slash == std::string::npos) return files;
  const std::string top = first.substr(0, slash + 1);
  for (const auto& [path, bytes] : files)
    if (!path.starts_with(top)) return files;
  FileBytes out;
  for (const auto& [path, bytes] : files) out[path.substr(top.size())] = bytes;
  return out;
}

FileBytes dataForksOnly(const FileBytes& files) {
  FileBytes out;
  for (const auto& [path, bytes] : files)
    if (path.find(":rsrc") == std::string::npos) out[path] = bytes;
  return out;
}

ReadBack extractWith7zz(const fs::path& volume, const fs::path& out) {
  ReadBack r;
  const ToolResult t = runTool({"7zz", "x", "-y", "-o" + out.string(), volume.string()});
  r.said = t.output;
  r.ok = t.exitCode == 0;
  if (r.ok && fs::exists(out)) r.files = dataForksOnly(filesBelow(out));
  return r;
}

}  // namespace

ReadBack readIso9660Side(const fs::path& image, const fs::path& scratch) {
  ReadBack r;
  const fs::path out = scratch / "iso-side";
  const ToolResult t = runTool(
      {"xorriso", "-indev", image.string(), "-osirrox", "on", "-extract", "/", out.string()});
  r.said = t.output;
  r.ok = t.exitCode == 0;
  if (r.ok && fs::exists(out)) r.files = filesBelow(out);
  return r;
}

ReadBack readHfsSide(const fs::path& image, const fs::path& scratch) {
  ReadBack r;
  // hfsutils keeps the mounted volume in $HOME/.hcwd: a home of its own per call.
  const fs::path home = scratch / "hfs-home";
  fs::create_directories(home);
  ToolOptions options;
  options.environment = {{"HOME", home.string()}};
  options.separateErrors = true;
  const ToolResult mounted = runTool({"hmount", image.string()}, options);
  r.said = mounted.output + mounted.errors;
  if (mounted.exitCode != 0) return r;
  const ToolResult listed = runTool({"hls", "-R", "-F", "-1"}, options);
  r.said += listed.output + listed.errors;
  r.ok = listed.exitCode == 0;
  // Sections: the root's names first, then ":Folder:Sub:" and the names inside it;
  // folders end in ':' (-F).
  std::vector<std::string> files;
  std::string folder;  // the section's folder as "A/B/"
  std::istringstream lines(listed.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    if (line.front() == ':' && line.back() == ':') {
      folder = line.substr(1);
      std::replace(folder.begin(), folder.end(), ':', '/');
      continue;
    }
    if (line.back() == ':' || line.back() == '*') {
      if (line.back() == ':') continue;
      line.pop_back();
    }
    files.push_back(folder + line);
  }
  const fs::path out = scratch / "hfs-side";
  for (const std::string& path : files) {
    std::string macPath = ":" + path;
    std::replace(macPath.begin(), macPath.end(), '/', ':');
    const fs::path target = out / path;
    fs::create_directories(target.parent_path());
    const ToolResult copied = runTool({"hcopy", "-r", macPath, target.string()}, options);
    if (copied.exitCode != 0) {
      r.ok = false;
      r.said += "hcopy " + macPath + ": " + copied.output + copied.errors;
      continue;
    }
    const std::vector<std::uint8_t> bytes = readFile(target);
    r.files[path] = std::string(bytes.begin(), bytes.end());
  }
  (void)runTool({"humount"}, options);
  return r;
}

ReadBack readHfsPlusSide(const fs::path& image, const fs::path& scratch) {
  ReadBack r;
  const std::vector<std::uint8_t> bytes = readFile(image);
  // The volume header: "H+", version 4, 1,024 bytes into the volume.
  std::size_t start = bytes.size();
  for (std::size_t at = 0; at + 1024 + 4 <= bytes.size() && at < (1u << 20); at += 512) {
    const std::uint8_t* h = bytes.data() + at + 1024;
    if (h[0] == 'H' && h[1] == '+' && h[2] == 0 && h[3] == 4) {
      start = at;
      break;
    }
  }
  if (start == bytes.size()) {
    r.said = "no HFS Plus volume header in the first megabyte";
    return r;
  }
  fs::create_directories(scratch);
  const fs::path volume = scratch / "volume.hfsplus";
  writeFile(volume, std::string_view(reinterpret_cast<const char*>(bytes.data()) + start,
                                     bytes.size() - start));
  r = extractWith7zz(volume, scratch / "hfsplus-side");
  r.files = withoutVolumeFolder(r.files);
  return r;
}

ReadBack readUdfSide(const fs::path& image, const fs::path& scratch) {
  return extractWith7zz(image, scratch / "udf-side");
}

std::string treeDifferences(const FileBytes& got, const FileBytes& wanted) {
  std::string out;
  for (const auto& [path, bytes] : wanted) {
    const auto it = got.find(path);
    if (it == got.end())
      out += "missing " + path + "\n";
    else if (it->second != bytes)
      out += "bytes of " + path + " (" + std::to_string(it->second.size()) + " of " +
             std::to_string(bytes.size()) + ")\n";
  }
  for (const auto& [path, bytes] : got)
    if (!wanted.contains(path)) out += "extra " + path + "\n";
  return out;
}

}  // namespace quillion::test
