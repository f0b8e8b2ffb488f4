// The processor count: a control group's CPU quota, capped by the number of
// processors this thread may run on.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <mutex>

#include "pool.hpp"

namespace quillmere::pool {

namespace {

// Plain system calls: these files are small, and iostreams would pull the
// locale machinery into the process for nothing.
std::optional<std::string> read_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  while (true) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return text;
}

// Calls f on each piece of text between separators.
template <class F>
void for_each_field(std::string_view text, char separator, F&& f) {
  while (true) {
    std::size_t end = text.find(separator);
    if (!f(text.substr(0, end))) return;
    if (end == std::string_view::npos) return;
    text.remove_prefix(end + 1);
  }
}

bool list_contains(std::string_view list, std::string_view item) {
  bool found = false;
  for_each_field(list, ',', [&](std::string_view entry) {
    found = entry == item;
    return !found;
  });
  return found;
}

std::string_view trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\n\r\f\v";
  std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

struct Group {
  int version = 0;  // 0: no counting line
  std::string path;
};

// /proc/self/cgroup: "id:controllers:path". The last v1 line naming "cpu"
// wins; a v2 line (no controllers) only while nothing was taken.
Group find_group(std::string_view text) {
  Group group;
  for_each_field(text, '\n', [&](std::string_view line) {
    std::size_t first = line.find(':');
    std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) return true;
    std::string_view controllers = line.substr(first + 1, second - first - 1);
    // The rest of the line is the path, which may itself hold ':'.
    std::string_view path = line.substr(second + 1);
    if (controllers.empty()) {
      if (group.version == 0) group = Group{2, std::string(path)};
    } else if (list_contains(controllers, "cpu")) {
      group = Group{1, std::string(path)};
    }
    return true;
  });
  return group;
}

struct Mount {
  std::string root;
  std::string point;
};

// /proc/self/mountinfo: the first cgroup mount of the wanted version (for v1,
// one whose super options name "cpu").
std::optional<Mount> find_mount(std::string_view text, int version) {
  std::optional<Mount> found;
  for_each_field(text, '\n', [&](std::string_view line) {
    std::vector<std::string_view> fields;
    for_each_field(line, ' ', [&](std::string_view field) {
      fields.push_back(field);
      return true;
    });
    if (fields.size() < 5) return true;
    std::size_t dash = 5;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 1 >= fields.size()) return true;
    std::string_view type = fields[dash + 1];
    int mount_version = type == "cgroup" ? 1 : type == "cgroup2" ? 2 : 0;
    if (mount_version == 0) return true;
    if (mount_version == 1 && (dash + 3 >= fields.size() || !list_contains(fields[dash + 3], "cpu"))) return true;
    if (mount_version != version) return true;
    found = Mount{std::string(fields[3]), std::string(fields[4])};
    return false;
  });
  return found;
}

// The group directory below the mount point, when the group path lies inside
// the mount root (compared by whole path components).
std::optional<std::string> group_directory(const Mount& mount, const std::string& group_path) {
  std::string_view root = mount.root;
  std::string_view path = group_path;
  while (root.size() > 1 && root.back() == '/') root.remove_suffix(1);
  if (root == "/") {
    if (path.empty() || path.front() != '/') return std::nullopt;
    path.remove_prefix(1);
  } else {
    if (path.substr(0, root.size()) != root) return std::nullopt;
    path.remove_prefix(root.size());
    if (!path.empty() && path.front() != '/') return std::nullopt;
  }
  while (!path.empty() && path.front() == '/') path.remove_prefix(1);
  std::string directory = mount.point;
  if (!path.empty()) {
    if (directory.empty() || directory.back() != '/') directory += '/';
    directory += path;
  }
  return directory;
}

std::optional<std::uint64_t> read_number_file(const std::string& path) {
  std::optional<std::string> text = read_file(path);
  if (!text) return std::nullopt;
  return parse_count(trim(*text));
}

}  // namespace

std::optional<std::uint64_t> cgroup_cpu_quota(const CgroupFiles& files) {
  std::optional<std::string> cgroup = read_file(files.proc_cgroup);
  if (!cgroup) return std::nullopt;
  Group group = find_group(*cgroup);
  if (group.version == 0) return std::nullopt;
  std::optional<std::string> mountinfo = read_file(files.mountinfo);
  if (!mountinfo) return std::nullopt;
  std::optional<Mount> mount = find_mount(*mountinfo, group.version);
  if (!mount) return std::nullopt;
  std::optional<std::string> relative = group_directory(*mount, group.path);
  if (!relative) return std::nullopt;
  std::string directory = files.root + *relative;

  std::optional<std::uint64_t> quota, period;
  if (group.version == 1) {
    quota = read_number_file(directory + "/cpu.cfs_quota_us");
    period = read_number_file(directory + "/cpu.cfs_period_us");
  } else {
    std::optional<std::string> text = read_file(directory + "/cpu.max");
    if (!text) return std::nullopt;
    std::string_view line = *text;
    line = line.substr(0, line.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    std::string_view rest = line.substr(space + 1);
    quota = parse_count(line.substr(0, space));
    period = parse_count(rest.substr(0, rest.find(' ')));
  }
  if (!quota || !period || *period == 0) return std::nullopt;
  double count = std::ceil(static_cast<double>(*quota) / static_cast<double>(*period));
  // Saturate: a count beyond 2^64 cannot be converted, and is no limit anyway.
  if (count >= 18446744073709551616.0) return UINT64_MAX;
  auto whole = static_cast<std::uint64_t>(count);
  if (whole == 0) return std::nullopt;
  return whole;
}

std::size_t logical_cpu_count() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<std::size_t>(count);
  }
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online < 1 ? 1 : static_cast<std::size_t>(online);
}

std::size_t num_cpus() {
  static std::once_flag once;
  static std::optional<std::uint64_t> quota;
  std::call_once(once, [] { quota = cgroup_cpu_quota(CgroupFiles{}); });
  std::size_t logical = logical_cpu_count();
  if (quota && *quota < logical) return static_cast<std::size_t>(*quota);
  return logical;
}

}  // namespace quillmere::pool
