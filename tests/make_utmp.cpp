// Writes a utmp file for the check's tests, through the C library that the
// check reads it with: make_utmp FILE [USER LINE PID]... (a login each).
#include <utmpx.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

int main(int argc, char **argv)
{
    if (argc < 2 || argc % 3 != 2)
        return 2;
    std::ofstream{argv[1]};  // pututxline writes only to a file that exists
    if (utmpxname(argv[1]) != 0)
        return 1;
    setutxent();
    for (int i = 2; i + 2 < argc; i += 3) {
        utmpx entry{};
        entry.ut_type = USER_PROCESS;
        entry.ut_pid = std::atoi(argv[i + 2]);
        std::strncpy(entry.ut_user, argv[i], sizeof entry.ut_user);
        std::strncpy(entry.ut_line, argv[i + 1], sizeof entry.ut_line);
        std::strncpy(entry.ut_id, argv[i + 1] + std::strlen(argv[i + 1]) - 1, sizeof entry.ut_id);
        if (!pututxline(&entry))
            return 1;
    }
    endutxent();
    return 0;
}
