// The counting rules, apart from the calls that read the sessions, so that
// one table of made-up records can test them on every system.
#include "check/census.hpp"

#include <cstring>

#include "check/text.hpp"

namespace {

bool user_class(const char *name)
{
    return std::strcmp(name, "user") == 0 || std::strcmp(name, "user-early") == 0 ||
           std::strcmp(name, "user-incomplete") == 0 || std::strcmp(name, "user-light") == 0;
}

void name_session(session_census &census, const session_record &record)
{
    if (census.named == NAMED_LIMIT)
        return;
    char *name = census.names[census.named++];
    text_buffer out = {name, sizeof census.names[0], 0};
    const char *fields[] = {record.user, record.place, record.host};
    for (const char *field : fields) {
        if (out.used)
            append(out, " ");
        append_echo(out, field && *field ? field : "-", NAME_SIZE - 4);
    }
}

}  // namespace

session_verdict judge_session(session_source source, const session_record &record)
{
    switch (source) {
    case session_source::logind:
        if (!user_class(record.class_name))
            return session_verdict::ignored;
        if (std::strcmp(record.state_name, "active") == 0)
            return session_verdict::active;
        return std::strcmp(record.state_name, "online") == 0 ? session_verdict::inactive : session_verdict::ignored;
    case session_source::utmp:
        return record.user_process && record.alive ? session_verdict::active : session_verdict::ignored;
    case session_source::terminal_services:
        if (record.id == 0 || !record.user || !*record.user)
            return session_verdict::ignored;
        if (record.state == WTS_ACTIVE || record.state == WTS_SHADOW)
            return session_verdict::active;
        return record.state == WTS_DISCONNECTED ? session_verdict::inactive : session_verdict::ignored;
    case session_source::none:
        break;
    }
    return session_verdict::ignored;
}

void tally_session(void *context, session_source source, const session_record &record)
{
    auto &census = *static_cast<session_census *>(context);
    if (source == session_source::terminal_services && record.id == 0)
        census.saw_services_session = true;
    switch (judge_session(source, record)) {
    case session_verdict::active:
        census.active++;
        name_session(census, record);
        break;
    case session_verdict::inactive:
        census.inactive++;
        break;
    case session_verdict::ignored:
        break;
    }
}
