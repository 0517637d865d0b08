// Writes a deterministic session listing of about the given size: a header
// line, then one session a line, with the given share of them active.
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

unsigned long long state = 0x2545F4914F6CDD1DULL;

unsigned next_random(unsigned below)
{
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<unsigned>(state % below);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_listing BYTES ACTIVE_PERCENT > listing\n");
        return 2;
    }
    const unsigned long long size = std::strtoull(argv[1], nullptr, 10);
    const unsigned active_percent = static_cast<unsigned>(std::atoi(argv[2]));
    static const char *const NAMES[] = {"alvarez", "baker",  "chen",   "dubois",   "eriksen", "fischer", "garcia",
                                        "haddad",  "ito",    "jansen", "kowalski", "larsen",  "moreau",  "nakamura",
                                        "okafor",  "petrov", "quinn",  "rossi",    "silva",   "tanaka",  "weber"};
    static const char *const OTHER_STATES[] = {"Disc", "Idle", "Listen", "Conn"};
    static char out[1 << 16];
    std::setvbuf(stdout, out, _IOFBF, sizeof out);
    unsigned long long written =
        static_cast<unsigned long long>(std::printf("SESSION      USER            ID     STATE   IDLE   LOGON TIME\n"));
    for (unsigned long long session = 0; written < size; session++) {
        bool active = next_random(100) < active_percent;
        const char *state_text = active ? "Active" : OTHER_STATES[next_random(4)];
        char idle[8];
        if (active)
            std::strcpy(idle, ".");
        else
            std::snprintf(idle, sizeof idle, "%u:%02u", 1 + next_random(9), next_random(60));
        int n = std::printf("rdp-tcp#%-5llu %c.%-13s %-6llu %-7s %-6s 2026-12-%02u %02u:%02u\n", session % 100000,
                            'a' + next_random(26), NAMES[next_random(21)], 2 + session % 65000, state_text, idle,
                            1 + next_random(28), next_random(24), next_random(60));
        written += static_cast<unsigned long long>(n);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
