// Processor time of the Windows link while it waits for a sync that never
// comes. Prints this process's user and kernel time over the wait; the
// script around it adds the wineserver's share.
//
//   link_idle_bench [PORT] [SECONDS] [--poll-1ms]
//
// --poll-1ms measures, for comparison, a plain ClearCommError poll with a
// 1 ms sleep between queries instead of the link.
#include "serial_port_link.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

}  // namespace

int main(int argc, char** argv) {
    const char* port = argc > 1 ? argv[1] : "COM7";
    int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    bool naive = argc > 3 && std::strcmp(argv[3], "--poll-1ms") == 0;

    kvr::SerialPortLink link;
    HANDLE plain = INVALID_HANDLE_VALUE;
    bool opened = naive ? (plain = CreateFileA(kvr::DevicePathForPort(port).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                               nullptr, OPEN_EXISTING, 0, nullptr)) != INVALID_HANDLE_VALUE
                        : link.open(port);
    if (!opened) {
        std::fprintf(stderr, "cannot open %s: error %lu\n", port, GetLastError());
        return 1;
    }
    double before = CpuSeconds();
    ULONGLONG start = GetTickCount64();
    if (naive) {
        while (GetTickCount64() - start < ULONGLONG(seconds) * 1000) {
            DWORD errors;
            COMSTAT status;
            ClearCommError(plain, &errors, &status);
            Sleep(1);
        }
    } else {
        std::thread worker([&] {
            std::uint8_t byte;
            link.readExact(&byte, 1);
        });
        Sleep(DWORD(seconds) * 1000);
        link.requestStop();
        worker.join();
    }
    double cpu = CpuSeconds() - before;
    double wall = double(GetTickCount64() - start) / 1000.0;
    if (plain != INVALID_HANDLE_VALUE) CloseHandle(plain);
    std::printf("%s: %.3f s of processor time over %.1f s: %.2f%% of one core (this process)\n",
                naive ? "1 ms poll" : "link idle", cpu, wall, 100.0 * cpu / wall);
    return 0;
}
