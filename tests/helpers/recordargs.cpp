// Records the arguments it was started with into the file named by the
// environment variable UH_RECORDARGS_FILE (or "recordargs.txt" in the current
// folder), one argument per line, then exits. Tests use it in place of the
// programs that the updater starts.
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    const char *target = std::getenv("UH_RECORDARGS_FILE");
    FILE *out = std::fopen(target && *target ? target : "recordargs.txt", "a");
    if (!out)
        return 1;
    for (int i = 0; i < argc; ++i)
        std::fprintf(out, "%s\n", argv[i]);
    std::fclose(out);
    return 0;
}
