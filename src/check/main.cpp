// check_active_users: the active-users check as a monitoring plugin, reading
// the system's own sessions or a listing command's lines.
#include "check/check.hpp"

int main(int argc, char **argv)
{
    return run_check(argc, argv);
}
