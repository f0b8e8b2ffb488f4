// Thread count from the environment, and the control-group quota read from
// fixture files laid out like /proc and /sys.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "pool/pool.hpp"

namespace fs = std::filesystem;
using quillmere::pool::CgroupFiles;
using quillmere::pool::cgroup_cpu_quota;
using quillmere::pool::choose_num_threads;
using quillmere::pool::parse_count;

TEST(ParseCount, AcceptsOnlyPlusAndDigits) {
  struct Case {
    const char* text;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {
      {"4", 4},
      {"+4", 4},
      {"0", 0},
      {"007", 7},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"++4", std::nullopt},
      {"-2", std::nullopt},
      {"-0", std::nullopt},
      {" 4", std::nullopt},
      {"4 ", std::nullopt},
      {"4\n", std::nullopt},
      {"abc", std::nullopt},
      {"4a", std::nullopt},
      {"0x10", std::nullopt},
      {"\xd9\xa4", std::nullopt},  // a non-ASCII digit
  };
  for (const Case& c : cases) EXPECT_EQ(parse_count(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ChooseNumThreads, FollowsTheVariablesInOrder) {
  struct Case {
    const char* num_threads;
    const char* rs_num_cpus;
    std::size_t expected;
  };
  // The processor count is 7 here.
  const Case cases[] = {
      {nullptr, nullptr, 7},
      {"3", nullptr, 3},
      {"+4", nullptr, 4},
      {"3", "5", 3},
      {"0", "5", 7},  // 0 means the processor count, not the next variable
      {"abc", "5", 5},
      {" 4", "5", 5},
      {"-2", "5", 5},
      {"", "5", 5},
      {nullptr, "5", 5},
      {nullptr, "0", 7},
      {nullptr, "x", 7},
      {"abc", "abc", 7},
      {"100000", nullptr, 65535},
      {"65535", nullptr, 65535},
      {nullptr, "18446744073709551615", 65535},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(choose_num_threads(c.num_threads, c.rs_num_cpus, [] { return std::size_t{7}; }), c.expected)
        << (c.num_threads ? c.num_threads : "(unset)") << " / " << (c.rs_num_cpus ? c.rs_num_cpus : "(unset)");
  }
}

TEST(ChooseNumThreads, CountsProcessorsOnlyWhenNeeded) {
  int calls = 0;
  auto counting = [&] {
    ++calls;
    return std::size_t{2};
  };
  EXPECT_EQ(choose_num_threads("6", nullptr, counting), 6u);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(choose_num_threads(nullptr, nullptr, counting), 2u);
  EXPECT_EQ(calls, 1);
  // A processor count above the cap is capped too.
  EXPECT_EQ(choose_num_threads(nullptr, nullptr, [] { return std::size_t{70000}; }), 65535u);
}

TEST(LogicalCpuCount, MatchesTheAffinitySet) {
  cpu_set_t set;
  ASSERT_EQ(sched_getaffinity(0, sizeof(set), &set), 0);
  EXPECT_EQ(quillmere::pool::logical_cpu_count(), static_cast<std::size_t>(CPU_COUNT(&set)));
  EXPECT_GE(quillmere::pool::num_cpus(), 1u);
  EXPECT_LE(quillmere::pool::num_cpus(), quillmere::pool::logical_cpu_count());
}

// A fake /proc and /sys tree under a temporary directory.
class Cgroup : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quillmere_cgroup_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    files_.proc_cgroup = (dir_ / "cgroup").string();
    files_.mountinfo = (dir_ / "mountinfo").string();
    files_.root = (dir_ / "root").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  void proc(const std::string& cgroup, const std::string& mountinfo) {
    write(files_.proc_cgroup, cgroup);
    write(files_.mountinfo, mountinfo);
  }
  // A file in the fake tree, at its absolute path on a real system.
  void sys(const std::string& absolute, const std::string& text) { write(files_.root + absolute, text); }

  fs::path dir_;
  CgroupFiles files_;
};

const std::string kV2Mount =
    "30 23 0:26 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 rw,nsdelegate\n";
const std::string kV1Mounts =
    "25 22 0:22 / /sys/fs/cgroup/memory rw,nosuid shared:9 - cgroup cgroup rw,memory\n"
    "26 22 0:23 / /sys/fs/cgroup/cpu,cpuacct rw,nosuid shared:10 - cgroup cgroup rw,cpu,cpuacct\n";

TEST_F(Cgroup, Version2QuotaRoundsUp) {
  struct Case {
    const char* cpu_max;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {
      {"150000 100000\n", 2},
      {"200000 100000\n", 2},
      {"200001 100000\n", 3},
      {"50000 100000\n", 1},
      {"1 100000", 1},
      {"150000 100000\r\n", 2},
      {"max 100000\n", std::nullopt},
      {"-1 100000\n", std::nullopt},
      {"150000 0\n", std::nullopt},
      {"0 100000\n", std::nullopt},
      {"150000\n", std::nullopt},
      {"", std::nullopt},
      {" 150000 100000\n", std::nullopt},
      {"150000  100000\n", std::nullopt},
      {"150000 100000 extra\n", 2},
      {"18446744073709551615 1\n", UINT64_MAX},
  };
  proc("0::/user.slice/app.scope\n", kV2Mount);
  for (const Case& c : cases) {
    sys("/sys/fs/cgroup/user.slice/app.scope/cpu.max", c.cpu_max);
    EXPECT_EQ(cgroup_cpu_quota(files_), c.expected) << '"' << c.cpu_max << '"';
  }
}

TEST_F(Cgroup, Version1QuotaAndPeriodFiles) {
  struct Case {
    const char* quota;
    const char* period;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {
      {"150000\n", "100000\n", 2},
      {"  300000 \n", "\t100000\n", 3},
      {"-1\n", "100000\n", std::nullopt},
      {"150000\n", "0\n", std::nullopt},
      {"150000\n", "abc\n", std::nullopt},
      {"0\n", "100000\n", std::nullopt},
  };
  proc("12:memory:/docker/abc\n4:cpu,cpuacct:/docker/abc\n", kV1Mounts);
  for (const Case& c : cases) {
    sys("/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_quota_us", c.quota);
    sys("/sys/fs/cgroup/cpu,cpuacct/docker/abc/cpu.cfs_period_us", c.period);
    EXPECT_EQ(cgroup_cpu_quota(files_), c.expected) << c.quota << " / " << c.period;
  }
}

TEST_F(Cgroup, MissingFilesMeanNoQuota) {
  EXPECT_EQ(cgroup_cpu_quota(files_), std::nullopt);  // no /proc files at all
  proc("0::/\n", kV2Mount);
  EXPECT_EQ(cgroup_cpu_quota(files_), std::nullopt);  // no cpu.max
  sys("/sys/fs/cgroup/cpu.max", "150000 100000\n");
  EXPECT_EQ(cgroup_cpu_quota(files_), 2u);  // the root group itself
  proc("4:cpu:/a\n", kV1Mounts);
  sys("/sys/fs/cgroup/cpu,cpuacct/a/cpu.cfs_quota_us", "150000\n");
  EXPECT_EQ(cgroup_cpu_quota(files_), std::nullopt);  // no period file
}

TEST_F(Cgroup, ChoosesTheGroupLine) {
  sys("/sys/fs/cgroup/v2group/cpu.max", "300000 100000\n");
  sys("/sys/fs/cgroup/cpu,cpuacct/first/cpu.cfs_quota_us", "500000");
  sys("/sys/fs/cgroup/cpu,cpuacct/first/cpu.cfs_period_us", "100000");
  sys("/sys/fs/cgroup/cpu,cpuacct/last/cpu.cfs_quota_us", "700000");
  sys("/sys/fs/cgroup/cpu,cpuacct/last/cpu.cfs_period_us", "100000");
  struct Case {
    const char* cgroup;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {
      // The last v1 "cpu" line wins, also over an earlier v2 line.
      {"4:cpu:/first\n5:cpu,cpuacct:/last\n", 7},
      {"0::/v2group\n4:cpu:/first\n", 5},
      // A v2 line after a v1 line is ignored.
      {"4:cpu:/first\n0::/v2group\n", 5},
      // "cpu" must be a whole controller name.
      {"4:cpuacct:/first\n3:cpuset:/first\n", std::nullopt},
      {"4:cpuacct:/first\n0::/v2group\n", 3},
      {"0::/v2group\n", 3},
      {"malformed line\n\n", std::nullopt},
  };
  for (const Case& c : cases) {
    proc(c.cgroup, kV1Mounts + kV2Mount);
    EXPECT_EQ(cgroup_cpu_quota(files_), c.expected) << c.cgroup;
  }
}

TEST_F(Cgroup, MountRootAndPoint) {
  sys("/mnt/cg/inner/cpu.max", "250000 100000\n");
  struct Case {
    const char* cgroup;
    const char* mountinfo;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {
      // The mount root is removed from the front of the group path.
      {"0::/outer/inner\n", "1 2 0:1 /outer /mnt/cg rw - cgroup2 none rw\n", 3},
      {"0::/outer/inner\n", "1 2 0:1 /outer/ /mnt/cg rw - cgroup2 none rw\n", 3},
      {"0::/outer/inner\n", "1 2 0:1 /outer/inner /mnt/cg/inner rw - cgroup2 none rw\n", 3},
      // Optional fields before the separator.
      {"0::/inner\n", "1 2 0:1 / /mnt/cg rw shared:1 master:2 - cgroup2 none rw\n", 3},
      // Not under the mount root, also when only a name prefix matches.
      {"0::/other/inner\n", "1 2 0:1 /outer /mnt/cg rw - cgroup2 none rw\n", std::nullopt},
      {"0::/outerx/inner\n", "1 2 0:1 /outer /mnt/cg rw - cgroup2 none rw\n", std::nullopt},
      // The first mount of the group's version is taken; other types are skipped.
      {"0::/inner\n",
       "1 2 0:1 / /mnt/cg rw - tmpfs none rw\n1 2 0:1 / /mnt/cg rw - cgroup2 none rw\n"
       "1 2 0:1 / /elsewhere rw - cgroup2 none rw\n",
       3},
      {"0::/inner\n", "1 2 0:1 / /elsewhere rw - cgroup2 none rw\n1 2 0:1 / /mnt/cg rw - cgroup2 none rw\n",
       std::nullopt},
      // A v1 group needs a v1 mount, and one whose super options name "cpu".
      {"0::/inner\n", "1 2 0:1 / /mnt/cg rw - cgroup cgroup rw,cpu\n", std::nullopt},
      {"0::/inner\n", "1 2 0:1 / /mnt/cg rw\n", std::nullopt},
  };
  for (const Case& c : cases) {
    proc(c.cgroup, c.mountinfo);
    EXPECT_EQ(cgroup_cpu_quota(files_), c.expected) << c.cgroup << c.mountinfo;
  }
  sys("/mnt/v1/cpu.cfs_quota_us", "100000");
  sys("/mnt/v1/cpu.cfs_period_us", "100000");
  proc("3:cpu:/\n", "1 2 0:1 / /mnt/v1 rw - cgroup cgroup rw,cpuacct\n1 2 0:1 / /mnt/v1 rw - cgroup cgroup rw,cpu\n");
  EXPECT_EQ(cgroup_cpu_quota(files_), 1u);
}

TEST_F(Cgroup, GroupPathMayHoldColons) {
  proc("0::/a:b\n", kV2Mount);
  sys("/sys/fs/cgroup/a:b/cpu.max", "400000 100000\n");
  EXPECT_EQ(cgroup_cpu_quota(files_), 4u);
}
