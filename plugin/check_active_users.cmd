@echo off
rem check_active_users: the active-users check as a monitoring plugin
rem (NSClient++, Icinga for Windows and other agents). Lists the sessions,
rem counts them with active-users.exe from this folder and prints one line
rem with performance data; exits 0 OK, 1 WARNING, 2 CRITICAL, or 3 UNKNOWN
rem whenever it has not seen the sessions.
rem Usage: check_active_users.cmd [-w RANGE] [-c RANGE] [-p PATTERN] [-- COMMAND ARGS...]
rem The ranges are those of check_active_users on Linux: 10, 10:, ~:10, 5:10
rem and @5:10. Without a COMMAND it lists every session with query session,
rem which always lists at least the services session: an empty listing or a
rem failure is UNKNOWN, and nobody logged on is 0 in every display language.
rem Values are taken into variables and checked before any use, and the
rem pattern reaches the program through delayed expansion, so characters
rem such as & | < > ^ % ! in them run nothing.
setlocal EnableExtensions DisableDelayedExpansion
set "version=@PROJECT_VERSION@"
set "usage=usage: check_active_users.cmd [-w RANGE] [-c RANGE] [-p PATTERN] [-t SECONDS] [-- COMMAND ARGS...]"
set "warning="
set "critical="
set "warning_given="
set "critical_given="
set "pattern= Active"
set "command="
set "default_source=1"

:options
set "option=%~1"
if not defined option goto options_done
if "%option%"=="-h" goto help
if "%option%"=="--help" goto help
if "%option%"=="-V" goto version
if "%option%"=="--version" goto version
if "%option%"=="--" goto command
rem cmd.exe splits --warning=5 at the "=" into two arguments.
set "name="
if "%option%"=="-w" set "name=warning"
if "%option%"=="--warning" set "name=warning"
if "%option%"=="-c" set "name=critical"
if "%option%"=="--critical" set "name=critical"
if "%option%"=="-p" set "name=pattern"
if "%option%"=="--pattern" set "name=pattern"
if "%option%"=="-t" set "name=timeout"
if "%option%"=="--timeout" set "name=timeout"
if not defined name (
    set "reason=unknown option '%option%'; %usage%"
    goto unknown
)
rem An empty value last on the line counts as none.
if "%~2"=="" if "%~3"=="" (
    set "reason=%option% needs a value; %usage%"
    goto unknown
)
set "%name%=%~2"
if "%name%"=="warning" set "warning_given=1"
if "%name%"=="critical" set "critical_given=1"
shift
shift
goto options

:command
shift
set "default_source="
set "first=%~1"
:command_word
if "%~1"=="" goto options_done
if defined command (set "command=%command% %1") else set "command=%1"
shift
goto command_word

:options_done
if not defined warning_given if not defined critical_given (
    set "reason=give -w or -c, or both; %usage%"
    goto unknown
)
rem (Not || after call: wine's cmd.exe takes it for a failure every time.)
if not defined warning_given goto critical_range
set "r=%warning%"
set "what=the warning range"
call :check_range
if errorlevel 1 goto unknown
set "warning_low=%low%"
set "warning_high=%high%"
set "warning_inside=%inside%"
:critical_range
if not defined critical_given goto listing
set "r=%critical%"
set "what=the critical range"
call :check_range
if errorlevel 1 goto unknown
set "critical_low=%low%"
set "critical_high=%high%"
set "critical_inside=%inside%"

:listing
if defined default_source (
    set "command=query session"
    set "first=query session"
)
set "work=%TEMP%\check_active_users.%RANDOM%%RANDOM%"
call %command% > "%work%.listing" 2> "%work%.error"
set "status=%errorlevel%"
set "reason="
set /p "reason=" < "%work%.error"
if not "%status%"=="0" (
    set "reason=%first% failed with status %status%: %reason%"
    goto clean_unknown
)
if defined default_source for %%f in ("%work%.listing") do if %%~zf==0 (
    set "reason=%first% listed nothing: %reason%"
    goto clean_unknown
)
setlocal EnableDelayedExpansion
"%~dp0active-users.exe" "!pattern!" < "%work%.listing" > "%work%.report" 2> "%work%.error"
endlocal
if errorlevel 1 (
    set /p "reason=" < "%work%.error"
    goto clean_unknown
)
set "colour="
set "count="
for /f "usebackq tokens=1" %%w in ("%work%.report") do (
    if not defined colour set "colour=%%w"
    set "count=%%w"
)
del "%work%.listing" "%work%.report" "%work%.error" 2> nul
if not "%colour%"=="green" if not "%colour%"=="yellow" if not "%colour%"=="red" (
    set "reason=no report from active-users"
    goto unknown
)
set "state=OK"
set "status=0"
set "alert="
if defined critical_given call :alerts %count% "%critical_low%" "%critical_high%" "%critical_inside%"
if defined alert (
    set "state=CRITICAL"
    set "status=2"
    goto report
)
if defined warning_given call :alerts %count% "%warning_low%" "%warning_high%" "%warning_inside%"
if defined alert (
    set "state=WARNING"
    set "status=1"
)
:report
echo ACTIVE USERS %state% - %count% users active ^| users=%count%;%warning%;%critical%;0
exit /b %status%

rem check_range: whether r, which may hold anything, is N, N:, ~:N, N:M or
rem @N:M with whole numbers of at most 9 digits; sets low (empty for no
rem bound, as ~ is), high (empty for none) and inside (1 for @).
:check_range
set "low="
set "high="
set "inside="
set "tilde="
set "reason=%what% must be N, N:, ~:N, N:M or @N:M with whole numbers N and M: '%r%'"
set "given=%r%"
if not defined r exit /b 1
if "%r:~0,1%"=="@" (
    set "inside=1"
    set "r=%r:~1%"
)
if not defined r exit /b 1
if "%r:~0,1%"=="~" (
    set "tilde=1"
    set "r=%r:~1%"
)
if not defined r exit /b 1
rem Only digits and colons may be left. The # keeps t defined: cmd.exe
rem expands a substitution on an undefined variable to its own text.
set "t=#%r%"
for %%c in (0 1 2 3 4 5 6 7 8 9 :) do call set "t=%%t:%%c=%%"
if not "%t%"=="#" exit /b 1
set "t=%r::=%"
if "%t%"=="%r%" (
    if defined tilde exit /b 1
    set "low=0"
    set "high=%r%"
) else (
    set "high=%r:*:=%"
)
if not "%t%"=="%r%" call set "low=%%r::%high%=%%"
if defined tilde if defined low exit /b 1
if not defined tilde if not defined low set "low=0"
if not defined low if not defined high exit /b 1
if "%r%"==":" exit /b 1
call :digits low
if errorlevel 1 exit /b 1
call :digits high
if errorlevel 1 exit /b 1
if defined low if defined high if %low% GTR %high% (
    set "reason=%what% has its start above its end: '%given%'"
    exit /b 1
)
exit /b 0

rem digits NAME: whether the variable is empty or at most 9 digits, which it
rem keeps without leading zeros (IF would read those as octal).
:digits
call set "n=%%%1%%"
if not defined n exit /b 0
set "t=#%n%"
for %%c in (0 1 2 3 4 5 6 7 8 9) do call set "t=%%t:%%c=%%"
if not "%t%"=="#" exit /b 1
if not "%n:~9%"=="" exit /b 1
:digits_zero
if "%n:~0,1%"=="0" if not "%n%"=="0" (
    set "n=%n:~1%"
    goto digits_zero
)
set "%1=%n%"
exit /b 0

rem alerts COUNT LOW HIGH INSIDE: sets alert when COUNT is outside LOW to
rem HIGH, or inside it with INSIDE.
:alerts
set "alert="
set "outside="
if not "%~2"=="" if %1 LSS %~2 set "outside=1"
if not "%~3"=="" if %1 GTR %~3 set "outside=1"
if "%~4"=="1" (
    if not defined outside set "alert=1"
) else (
    if defined outside set "alert=1"
)
exit /b 0

:clean_unknown
del "%work%.listing" "%work%.report" "%work%.error" 2> nul
:unknown
rem A '|' would start performance data; the reason is printed through
rem delayed expansion, so what it quotes runs nothing.
set "reason=%reason:|=/%"
setlocal EnableDelayedExpansion
echo ACTIVE USERS UNKNOWN - !reason!
exit /b 3

:help
echo check_active_users.cmd %version%: counts active sessions and checks the count against ranges.
echo %usage%
echo RANGE is N (alert above N), N: (below N), ~:N (above N), N:M (outside N to M) or @N:M (inside N to M).
echo Without a COMMAND the sessions are query session's, counted with PATTERN (default " Active").
exit /b 0

:version
echo check_active_users.cmd %version%
exit /b 0
