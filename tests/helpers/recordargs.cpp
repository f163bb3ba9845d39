// Records the arguments it was started with into the file named by the
// environment variable UH_RECORDARGS_FILE (or "recordargs.txt" in the current
// folder), one argument per line, then exits. Tests use it in place of the
// programs that the updater starts. With UH_RECORDARGS_STAY=N it then stays
// for N seconds, as a program that is running (the notifier) does.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char **argv)
{
    const char *target = std::getenv("UH_RECORDARGS_FILE");
    FILE *out = std::fopen(target && *target ? target : "recordargs.txt", "a");
    if (!out)
        return 1;
    for (int i = 0; i < argc; ++i)
        std::fprintf(out, "%s\n", argv[i]);
    std::fclose(out);
    if (const char *stay = std::getenv("UH_RECORDARGS_STAY"))
        std::this_thread::sleep_for(std::chrono::seconds(std::atoi(stay)));
    return 0;
}
