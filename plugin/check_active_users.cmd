@echo off
rem check_active_users: the active-users check as a monitoring plugin
rem (NSClient++, Icinga for Windows and other agents). Runs a session
rem listing command, counts its active sessions with active-users.exe from
rem this folder and prints one line with performance data; exits 0 OK
rem (green), 1 WARNING (yellow), 2 CRITICAL (red) or 3 UNKNOWN when the
rem listing command or the count fails.
rem Usage: check_active_users.cmd -w YELLOW -c RED [-p PATTERN] [-- COMMAND ARGS...]
rem The default command is query user and the default pattern " Active ".
setlocal EnableExtensions DisableDelayedExpansion
set "yellow="
set "red="
set "pattern= Active "
set "command=query user"

:options
if "%~1"=="" goto run
if "%~1"=="-w" (set "yellow=%~2" & shift & shift & goto options)
if "%~1"=="-c" (set "red=%~2" & shift & shift & goto options)
if "%~1"=="-p" (set "pattern=%~2" & shift & shift & goto options)
if "%~1"=="--" (shift & set "command=" & goto command)
goto usage

:command
if "%~1"=="" goto run
if defined command (set "command=%command% %1") else set "command=%1"
shift
goto command

:run
if not defined yellow goto usage
if not defined red goto usage
set "work=%TEMP%\check_active_users.%RANDOM%%RANDOM%"
call %command% > "%work%.listing" 2> "%work%.error"
rem query user exits 1 and says so on standard error when nobody is logged
rem on: its listing is then empty, and the count 0.
if not errorlevel 1 goto count
set "reason="
set /p "reason=" < "%work%.error"
if not "%reason:~0,14%"=="No User exists" goto command_failed

:count
"%~dp0active-users.exe" "%pattern%" %yellow% %red% < "%work%.listing" > "%work%.report" 2> "%work%.error"
if errorlevel 1 goto count_failed
set "colour="
set "count="
for /f "usebackq tokens=1" %%w in ("%work%.report") do (
    if not defined colour set "colour=%%w"
    set "count=%%w"
)
set "state=UNKNOWN"
set "status=3"
if "%colour%"=="green" (set "state=OK" & set "status=0")
if "%colour%"=="yellow" (set "state=WARNING" & set "status=1")
if "%colour%"=="red" (set "state=CRITICAL" & set "status=2")
del "%work%.listing" "%work%.report" "%work%.error" 2> nul
if "%status%"=="3" (
    echo ACTIVE USERS UNKNOWN - no status in the report
    exit /b 3
)
echo ACTIVE USERS %state% - %count% users active ^| users=%count%;%yellow%;%red%;0
exit /b %status%

:command_failed
del "%work%.listing" "%work%.error" 2> nul
echo ACTIVE USERS UNKNOWN - %command% failed: %reason%
exit /b 3

:count_failed
set /p "reason=" < "%work%.error"
del "%work%.listing" "%work%.report" "%work%.error" 2> nul
echo ACTIVE USERS UNKNOWN - %reason%
exit /b 3

:usage
echo ACTIVE USERS UNKNOWN - usage: check_active_users.cmd -w YELLOW -c RED [-p PATTERN] [-- COMMAND ARGS...]
exit /b 3
