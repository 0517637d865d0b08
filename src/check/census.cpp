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
        return;  // the count says how many more there are
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
        return record.user_process && *record.user && record.alive ? session_verdict::active : session_verdict::ignored;
    case session_source::terminal_services: {
        const bool in_use = record.state == WTS_ACTIVE || record.state == WTS_SHADOW;
        if (record.id == 0 || (!in_use && record.state != WTS_DISCONNECTED))
            return session_verdict::ignored;
        if (record.query_error)
            return session_verdict::unreadable;
        if (!record.user || !*record.user)
            return session_verdict::ignored;
        return in_use ? session_verdict::active : session_verdict::inactive;
    }
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
    case session_verdict::unreadable:
        if (census.unreadable++ == 0) {
            census.unreadable_id = record.id;
            census.unreadable_error = record.query_error;
        }
        break;
    case session_verdict::ignored:
        break;
    }
}

bool census_whole(session_source source, const session_census &census, text_buffer &why)
{
    if (census.unreadable) {
        append(why, "cannot read session ");
        append_number(why, census.unreadable_id);
        append(why, " (Windows error ");
        append_number(why, census.unreadable_error);
        append(why, ")");
        if (census.unreadable > 1) {
            append(why, " nor ");
            append_number(why, census.unreadable - 1);
            append(why, " more");
        }
        return false;
    }
    // Every working Windows lists its services session: a list without it
    // comes from an API that is broken or a stand-in, and proves nothing.
    if (source == session_source::terminal_services && !census.saw_services_session) {
        append(why, "the Terminal Services API listed no services session, so its list cannot be trusted");
        return false;
    }
    return true;
}
