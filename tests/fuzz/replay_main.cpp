// Runs a fuzz target over files, without libFuzzer: each argument is a file
// or a folder of files. The seeds and every input a fuzzing run has found
// go through the target in each ordinary test run.
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool RunFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s\n", path.c_str());  // named before a failed check aborts
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat status;
        if (stat(argv[i], &status) != 0) {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
            return 1;
        }
        if (!S_ISDIR(status.st_mode)) {
            if (!RunFile(argv[i])) return 1;
            ++files;
            continue;
        }
        DIR* folder = opendir(argv[i]);
        if (!folder) return 1;
        while (dirent* entry = readdir(folder)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (!RunFile(std::string(argv[i]) + "/" + name)) return 1;
            ++files;
        }
        closedir(folder);
    }
    std::printf("%d inputs, all checks held\n", files);
    return files > 0 ? 0 : 1;
}
