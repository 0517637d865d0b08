/* Stands in for Windows's query.exe, which wine lacks, when the documents'
   cmd.exe recipes run under wine. "query user" answers as QUERY_STUB says:
   "works" lists 62 active sessions and exits 0; "nobody" says what query
   user says when nobody is logged on, and "fails" what it says when it
   cannot reach the session manager; both exit 1, as query user does. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(void)
{
    const char *mode = getenv("QUERY_STUB");
    if (mode && strcmp(mode, "works") == 0) {
        printf(" USERNAME              SESSIONNAME        ID  STATE   IDLE TIME  LOGON TIME\n");
        for (int i = 1; i <= 62; i++)
            printf(" user%-17d rdp-tcp#%-10d %3d  Active          .  09.12.2026 08:01\n", i, i, i + 1);
        return 0;
    }
    if (mode && strcmp(mode, "nobody") == 0)
        fputs("No User exists for *\n", stderr);
    else
        fputs("Error 0x000006BA enumerating sessionnames\n", stderr);
    return 1;
}
