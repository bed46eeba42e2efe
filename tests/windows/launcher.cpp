// Runs the checks that the stand-in obs.dll holds (stand_in_host.cpp).
#include <cstdio>

extern "C" __declspec(dllimport) int run_checks(const char* work_dir);

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: veilcam-test-host WORK_DIR\n");
        return 100;
    }
    return run_checks(argv[1]);
}
