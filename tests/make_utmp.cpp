// Writes a utmp file for the check's tests, through the C library that
// writes the system's: make_utmp FILE [USER LINE PID]..., a login each, or
// of another kind where USER is KIND:NAME (login, dead or init), and from a
// remote host where it ends with @HOST. Or holds a
// write lock on FILE for SECONDS, as a writer of utmp does, once it has made
// FILE.locked: make_utmp --lock FILE SECONDS.
#include <fcntl.h>
#include <unistd.h>
#include <utmpx.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

int hold_lock(const char *path, int seconds)
{
    const int file = open(path, O_RDWR);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (file < 0 || fcntl(file, F_SETLKW, &lock) != 0)
        return 1;
    std::ofstream{std::string(path) + ".locked"};
    sleep(static_cast<unsigned>(seconds));
    return 0;
}

short kind_of(std::string &user)
{
    const size_t colon = user.find(':');
    const std::string kind = colon == std::string::npos ? "" : user.substr(0, colon);
    user = colon == std::string::npos ? user : user.substr(colon + 1);
    return kind == "login"  ? LOGIN_PROCESS
           : kind == "dead" ? DEAD_PROCESS
           : kind == "init" ? INIT_PROCESS
                            : USER_PROCESS;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--lock") == 0)
        return hold_lock(argv[2], std::atoi(argv[3]));
    if (argc < 2 || argc % 3 != 2)
        return 2;
    std::ofstream{argv[1]};  // pututxline writes only to a file that exists
    if (utmpxname(argv[1]) != 0)
        return 1;
    setutxent();
    for (int i = 2; i + 2 < argc; i += 3) {
        utmpx entry{};
        std::string user = argv[i];
        entry.ut_type = kind_of(user);
        const size_t at = user.find('@');
        if (at != std::string::npos) {
            std::strncpy(entry.ut_host, user.c_str() + at + 1, sizeof entry.ut_host);
            user.resize(at);
        }
        entry.ut_pid = std::atoi(argv[i + 2]);
        std::strncpy(entry.ut_user, user.c_str(), sizeof entry.ut_user);
        std::strncpy(entry.ut_line, argv[i + 1], sizeof entry.ut_line);
        // Each entry a line of its own, as pututxline finds entries by it.
        std::strncpy(entry.ut_id, std::to_string(i).c_str(), sizeof entry.ut_id);
        if (!pututxline(&entry))
            return 1;
    }
    endutxent();
    return 0;
}
