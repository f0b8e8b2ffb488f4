// A main for a fuzz target without libFuzzer: runs LLVMFuzzerTestOneInput
// once on every file named or found (recursively) in the directories named,
// each input in a heap block of its exact size so that the sanitizers see
// any read past it. The inputs run in a child process; when it dies, the
// parent names the input it died on. Exits 77 (a skipped test) when a
// directory is absent.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<char> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void run(const std::filesystem::path& path) {
  const std::vector<char> bytes = read_file(path);
  // An exact-size copy: a vector may have spare capacity.
  std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
  std::memcpy(data.get(), bytes.data(), bytes.size());
  LLVMFuzzerTestOneInput(data.get(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path root(argv[i]);
    if (!std::filesystem::exists(root)) {
      std::fprintf(stderr, "replay: %s does not exist; nothing to replay\n", argv[i]);
      return 77;
    }
    std::vector<std::filesystem::path> found;
    if (std::filesystem::is_directory(root)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) found.push_back(entry.path());
      }
      std::sort(found.begin(), found.end());
    } else {
      found.push_back(root);
    }
    std::printf("replay: %zu input(s) from %s\n", found.size(), argv[i]);
    files.insert(files.end(), found.begin(), found.end());
  }
  std::fflush(stdout);

  // The index of the input being run, shared with the child.
  void* shared = mmap(nullptr, sizeof(std::atomic<std::size_t>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                      -1, 0);
  if (shared == MAP_FAILED) {
    std::perror("replay: mmap");
    return 1;
  }
  auto* current = new (shared) std::atomic<std::size_t>(0);
  const pid_t child = fork();
  if (child < 0) {
    std::perror("replay: fork");
    return 1;
  }
  if (child == 0) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      current->store(i);
      run(files[i]);
    }
    std::exit(0);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) {
    std::perror("replay: waitpid");
    return 1;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    std::printf("replay: %zu input(s) in all, no failure\n", files.size());
    return 0;
  }
  const std::size_t at = current->load();
  std::fprintf(stderr, "replay: failed (%s %d) on input %zu of %zu: %s\n",
               WIFSIGNALED(status) ? "signal" : "exit status", WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status),
               at + 1, files.size(), at < files.size() ? files[at].c_str() : "?");
  return 1;
}
