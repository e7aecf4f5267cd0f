@echo off
rem Runs the Ulvex test suite on this machine: each test program of bin\
rem with GoogleTest's XML output into a report folder, then report.txt.
rem What the suite changes is exported first and put back at the end; see
rem the help text (run-tests.cmd /?) for what happens when it is stopped.
setlocal EnableExtensions DisableDelayedExpansion
set "BIN=%~dp0bin"
set "STATE=%LOCALAPPDATA%\UlvexTests\saved"
set "PROGRAMS=unit_tests win32_tests system_tests"

if "%~1"=="/?" goto :help
if /i "%~1"=="/restore" goto :restore_only
set "REPORT=%~dp0report"
if not "%~1"=="" set "REPORT=%~f1"

if exist "%STATE%\pending" (
  echo run-tests: an earlier run ended before it put the machine back; doing so now.
  call :restore
)
if exist "%STATE%\pending" (
  echo run-tests: the machine could not be put back as it was before the earlier run; see above. Nothing was run.
  exit /b 2
)
"%BIN%\SuiteReport.exe" guard "%BIN%\StandInHost.exe"
set "status=%ERRORLEVEL%"
if "%status%"=="2" exit /b 2
if not "%status%"=="0" (
  echo run-tests: the look for another registered Excel.Application failed ^(status %status%^); nothing was changed.
  exit /b 2
)
if not exist "%REPORT%\" md "%REPORT%"
if not exist "%REPORT%\" (
  echo run-tests: cannot make the report folder %REPORT%
  exit /b 2
)
for %%p in (%PROGRAMS%) do if exist "%REPORT%\%%p.xml" del "%REPORT%\%%p.xml"
if exist "%REPORT%\report.txt" del "%REPORT%\report.txt"

call :save
if defined save_failed (
  echo run-tests: could not export %save_failed%; nothing was changed.
  exit /b 2
)
rem From here on the machine may change: a run that ends before its
rem restore leaves this mark, and the next run (or /restore) puts it back.
echo pending> "%STATE%\pending"

set "statuses="
set "stopped="
for %%p in (%PROGRAMS%) do call :run %%p
echo == putting back what the suite changed
call :restore
echo == report: %REPORT%\report.txt
"%BIN%\SuiteReport.exe" report "%REPORT%" %statuses%
set "status=%ERRORLEVEL%"
if exist "%STATE%\pending" (
  echo run-tests: the machine could not be put back entirely; its saved state is in %STATE%
  exit /b 1
)
if defined stopped echo run-tests: stopped with Ctrl+C during %stopped%.exe
exit /b %status%

:run
if defined stopped (
  set "statuses=%statuses% %1=-"
  goto :eof
)
echo == %1.exe
"%BIN%\%1.exe" --gtest_output=xml:"%REPORT%\%1.xml"
set "status=%ERRORLEVEL%"
set "statuses=%statuses% %1=%status%"
rem 0xC000013A, STATUS_CONTROL_C_EXIT: the program ended at Ctrl+C (and
rem "Terminate batch job" was answered N): the rest is not run.
if "%status%"=="-1073741510" set "stopped=%1"
goto :eof

rem ---- save and restore ----------------------------------------------

:save
set "save_failed="
if exist "%STATE%\" rd /s /q "%STATE%"
md "%STATE%"
call :save_key quennet "HKCU\Software\Quennet"
call :save_key office "HKCU\Software\Microsoft\Office"
call :save_key tests "HKCU\Software\UlvexTest"
for %%r in (HKLM HKCU) do for %%v in (32 64) do call :save_classes %%r %%v
if exist "%LOCALAPPDATA%\Quennet\" echo.> "%STATE%\quennet-folder.existed"
if exist "%LOCALAPPDATA%\Quennet\UlvexCmdLine\" echo.> "%STATE%\lock-folder.existed"
if defined ProgramW6432 if exist "%ProgramW6432%\UlvexTest\" echo.> "%STATE%\program-copy.existed"
goto :eof

rem :save_key <name> <key> [/reg:32 or /reg:64]
:save_key
reg query %2 %3 >nul 2>&1
if errorlevel 1 (
  echo.> "%STATE%\%1.absent"
  goto :eof
)
reg export %2 "%STATE%\%1.reg" /y %3 >nul 2>&1
if errorlevel 1 set "save_failed=%~2 %3"
goto :eof

rem :save_classes <HKLM or HKCU> <32 or 64>: the ProgIDs the tests register
rem (Excel.Application.99 is one a CurVer names) and the classes they name
rem now, in one view. Every class a test registers is named by one of them.
:save_classes
set "classes=%1\Software\Classes"
call :save_key %1-%2-Excel.Application "%classes%\Excel.Application" /reg:%2
call :save_key %1-%2-Excel.Application.99 "%classes%\Excel.Application.99" /reg:%2
for %%i in (Excel.Application Excel.Application.99) do call :save_named %1 %2 %%i
goto :eof

:save_named
if exist "%STATE%\%1-%2-%3.absent" goto :eof
call :named_class %1 %2 %3
if not defined named goto :eof
call :save_key %1-%2-%3-class "%classes%\CLSID\%named%" /reg:%2
call :save_key %1-%2-%3-appid "%classes%\AppID\%named%" /reg:%2
goto :eof

rem :named_class <root> <view> <ProgID>: sets named to the class ID in the
rem ProgID's CLSID value, or to nothing when it names none (only a value
rem in braces is taken: an empty one would name the whole CLSID key).
:named_class
set "named="
for /f "tokens=*" %%l in ('reg query "%1\Software\Classes\%3\CLSID" /ve /reg:%2 2^>nul') do set "line=%%l"
if not defined line goto :eof
set "named=%line:*REG_SZ=%"
set "line="
for /f "tokens=*" %%g in ("%named%") do set "named=%%g"
if not "%named:~0,1%"=="{" set "named="
if defined named if not "%named:~-1%"=="}" set "named="
goto :eof

:restore_only
if not exist "%STATE%\pending" (
  echo run-tests: nothing to put back ^(no run left the machine changed^).
  exit /b 0
)
call :restore
if exist "%STATE%\pending" exit /b 1
echo run-tests: put back what the stopped run had changed.
exit /b 0

:restore
set "restore_failed="
call :restore_key quennet "HKCU\Software\Quennet"
call :restore_key office "HKCU\Software\Microsoft\Office"
call :restore_key tests "HKCU\Software\UlvexTest"
for %%r in (HKLM HKCU) do for %%v in (32 64) do call :restore_classes %%r %%v
if not exist "%STATE%\lock-folder.existed" if exist "%LOCALAPPDATA%\Quennet\UlvexCmdLine\" rd /s /q "%LOCALAPPDATA%\Quennet\UlvexCmdLine"
if not exist "%STATE%\quennet-folder.existed" if exist "%LOCALAPPDATA%\Quennet\" rd "%LOCALAPPDATA%\Quennet" 2>nul
if not exist "%STATE%\program-copy.existed" if defined ProgramW6432 if exist "%ProgramW6432%\UlvexTest\" rd /s /q "%ProgramW6432%\UlvexTest"
if not exist "%STATE%\lock-folder.existed" if exist "%LOCALAPPDATA%\Quennet\UlvexCmdLine\" (
  set "restore_failed=1"
  echo run-tests: could not remove %LOCALAPPDATA%\Quennet\UlvexCmdLine
)
if defined restore_failed goto :eof
del "%STATE%\pending"
goto :eof

rem :restore_key <name> <key> [/reg:32 or /reg:64]: the key as saved, or
rem no key where there was none.
:restore_key
if exist "%STATE%\%1.reg" (
  reg delete %2 /f %3 >nul 2>&1
  reg import "%STATE%\%1.reg" %3 >nul 2>&1
  if errorlevel 1 (
    set "restore_failed=1"
    echo run-tests: could not put back %~2 %3 from %STATE%\%1.reg
  )
  goto :eof
)
if not exist "%STATE%\%1.absent" goto :eof
reg query %2 %3 >nul 2>&1
if errorlevel 1 goto :eof
reg delete %2 /f %3 >nul 2>&1
reg query %2 %3 >nul 2>&1
if errorlevel 1 goto :eof
set "restore_failed=1"
echo run-tests: could not remove %~2 %3
goto :eof

:restore_classes
set "classes=%1\Software\Classes"
for %%i in (Excel.Application Excel.Application.99) do (
  call :named_class %1 %2 %%i
  call :forget_named %1 %2
)
call :restore_key %1-%2-Excel.Application "%classes%\Excel.Application" /reg:%2
call :restore_key %1-%2-Excel.Application.99 "%classes%\Excel.Application.99" /reg:%2
for %%i in (Excel.Application Excel.Application.99) do (
  call :restore_named %1-%2-%%i class %2
  call :restore_named %1-%2-%%i appid %2
)
goto :eof

rem The class a ProgID names now goes; the one it named before the run
rem comes back from its export.
:forget_named
if not defined named goto :eof
reg delete "%classes%\CLSID\%named%" /f /reg:%2 >nul 2>&1
reg delete "%classes%\AppID\%named%" /f /reg:%2 >nul 2>&1
goto :eof

:restore_named
if not exist "%STATE%\%1-%2.reg" goto :eof
reg import "%STATE%\%1-%2.reg" /reg:%3 >nul 2>&1
if errorlevel 1 (
  set "restore_failed=1"
  echo run-tests: could not put back %STATE%\%1-%2.reg
)
goto :eof

:help
echo Runs the Ulvex test suite on this Windows machine and writes a report.
echo.
echo   run-tests.cmd [report folder]   run the suite (report folder: "report"
echo                                   beside this script unless given)
echo   run-tests.cmd /restore          put back what a stopped run left changed
echo   run-tests.cmd /?                this text
echo.
echo Meant for a clean virtual machine or a CI runner. The suite registers its
echo own stand-in host as Excel.Application (both registry views), writes the
echo hand-off key HKCU\Software\Quennet\Ulvex, Office option values under
echo HKCU\Software\Microsoft\Office, its own keys under HKCU\Software\UlvexTest
echo and the run lock's folder %%LOCALAPPDATA%%\Quennet\UlvexCmdLine. Where
echo Excel.Application is registered to any other program it refuses, with
echo status 2, and changes nothing.
echo.
echo Before the first test it exports those keys to %%LOCALAPPDATA%%\UlvexTests\saved
echo and it puts them back after the last one, also when a test program crashes.
echo The report folder then holds each program's GoogleTest XML and report.txt:
echo the machine's facts, passed, failed and skipped per program, and the names
echo of the failures.
echo.
echo Ctrl+C ends the test program that runs; cmd then asks "Terminate batch job
echo (Y/N)?". Answer N: the other programs are not run, the machine is put back
echo and the report names the stopped program. Answer Y: the machine stays as
echo the suite left it until "run-tests.cmd /restore" or the next run, which
echo puts it back first.
echo.
echo Exit status: 0 no test failed; 1 a test failed, a program crashed or was
echo stopped, or the machine could not be put back; 2 refused, nothing changed.
exit /b 0
