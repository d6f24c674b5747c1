@echo off
rem Registers the card reader driver of this package with Windows, so that 1C:Enterprise
rem clients can create it by its ProgID Addin.LumMSRKBD1C; "install.cmd /u" (uninstall.cmd)
rem unregisters it. The driver stays in this folder and is registered where it lies.
rem   64-bit Windows: x64\Wedgecard.dll for 64-bit clients (System32\regsvr32.exe) and
rem                   x86\Wedgecard.dll for 32-bit clients (SysWOW64\regsvr32.exe)
rem   32-bit Windows: x86\Wedgecard.dll only
rem Run it from a command prompt opened as administrator; running it again does no harm.
rem Exit status: 0 done; 1 a module could not be (un)registered; 2 not run as administrator;
rem 3 not for this Windows (a processor without a driver here) or an unknown argument.
setlocal EnableExtensions DisableDelayedExpansion
set "package=%~dp0"
set "failed=0"
set "clsid={16A311D8-026A-449B-807C-9C923D3D31EA}"
rem SystemRoot has no blanks, so this one needs no quotes inside "for /f".
set "reg=%SystemRoot%\System32\reg.exe"

if "%~1"=="" goto :install
if /i "%~1"=="/u" goto :uninstall
echo Usage: install.cmd       registers the driver of this package
echo        install.cmd /u    unregisters it (what uninstall.cmd does)
if "%~1"=="/?" exit /b 0
exit /b 3

:install
call :prepare
if errorlevel 1 exit /b %errorlevel%
echo Registering the card reader driver from %package%
call :each_module register
if "%failed%"=="1" goto :not_done
echo Done: the driver is registered.
exit /b 0

:uninstall
call :prepare
if errorlevel 1 exit /b %errorlevel%
echo Unregistering the card reader driver
call :each_module unregister
if "%failed%"=="1" goto :not_done
echo Done: the driver is not registered.
exit /b 0

:not_done
echo Not done: see the lines marked FAILED above.
exit /b 1

rem Checks the rights and the Windows, and chooses the regsvr32 of each bitness.
:prepare
call :administrator
if not errorlevel 1 goto :prepare_windows
echo Refused: this needs a command prompt opened as administrator ("Run as administrator").
echo Nothing was changed.
exit /b 2
:prepare_windows
rem A 32-bit command prompt on 64-bit Windows has PROCESSOR_ARCHITEW6432 set, sees SysWOW64
rem as System32 and reaches the 64-bit System32 as Sysnative.
set "architecture=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "architecture=%PROCESSOR_ARCHITEW6432%"
set "regsvr64="
set "regsvr32="
set "view64="
set "view32="
if /i "%architecture%"=="x86" goto :prepare_32
if /i not "%architecture%"=="AMD64" goto :prepare_unknown
set "regsvr64=%SystemRoot%\System32\regsvr32.exe"
if defined PROCESSOR_ARCHITEW6432 set "regsvr64=%SystemRoot%\Sysnative\regsvr32.exe"
set "view64=/reg:64"
set "view32=/reg:32"
rem Without its 32-bit subsystem 64-bit Windows runs no 32-bit client either.
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set "regsvr32=%SystemRoot%\SysWOW64\regsvr32.exe"
exit /b 0
:prepare_32
set "regsvr32=%SystemRoot%\System32\regsvr32.exe"
exit /b 0
:prepare_unknown
echo Refused: this package has drivers for x86 and x64 processors, not for %architecture%.
exit /b 3

rem Success when the machine's classes in the registry take a new key, which is what regsvr32
rem needs. WEDGECARD_TEST_NOT_ADMIN makes it fail, so that tests can try the refusal.
:administrator
if defined WEDGECARD_TEST_NOT_ADMIN exit /b 1
"%reg%" add "HKLM\SOFTWARE\Classes\Wedgecard.AdministratorCheck" /f >nul 2>&1
if errorlevel 1 exit /b 1
"%reg%" delete "HKLM\SOFTWARE\Classes\Wedgecard.AdministratorCheck" /f >nul 2>&1
exit /b 0

rem :each_module register|unregister
:each_module
if defined regsvr64 call :%1 x64 "%regsvr64%" "%view64%" 64-bit
if not defined regsvr64 echo x64: skipped: this Windows is 32-bit.
if defined regsvr32 call :%1 x86 "%regsvr32%" "%view32%" 32-bit
if not defined regsvr32 echo x86: skipped: this Windows runs no 32-bit programs.
exit /b 0

rem :register <folder> <regsvr32> <registry view or ""> <bitness of the clients>
:register
set "module=%package%%~1\Wedgecard.dll"
if exist "%module%" goto :register_module
echo %~1: FAILED: %module% is missing.
set "failed=1"
exit /b 1
:register_module
call :registered_module %3
set "before=%registered%"
"%~2" /s "%module%"
set "status=%errorlevel%"
call :registered_module %3
if not "%status%"=="0" goto :register_failed
if /i not "%registered%"=="%module%" goto :register_elsewhere
rem Paths may hold parentheses: they are echoed only on lines of their own, never after an
rem "if" or inside a block, where they would end it.
if not defined before goto :register_new
if /i "%before%"=="%module%" goto :register_again
echo %~1: registered %module% for %~4 1C clients, replacing %before%.
exit /b 0
:register_new
echo %~1: registered %module% for %~4 1C clients.
exit /b 0
:register_again
echo %~1: registered %module% again for %~4 1C clients.
exit /b 0
:register_failed
echo %~1: FAILED: %~2 could not register %module% (exit status %status%).
set "failed=1"
exit /b 1
:register_elsewhere
echo %~1: FAILED: after registering %module% the registry names "%registered%".
set "failed=1"
exit /b 1

rem :unregister <folder> <regsvr32> <registry view or ""> <bitness of the clients>
:unregister
call :registered_module %3
if defined registered goto :unregister_module
echo %~1: not registered; nothing to do.
exit /b 0
:unregister_module
set "before=%registered%"
set "module=%package%%~1\Wedgecard.dll"
rem Any copy of the module removes the same keys; the registered one may have gone with an
rem old folder.
if not exist "%module%" set "module=%before%"
if exist "%module%" goto :unregister_with
echo %~1: FAILED: no module to unregister with: %package%%~1\Wedgecard.dll is missing, and so is
echo     the registered %before%.
set "failed=1"
exit /b 1
:unregister_with
"%~2" /u /s "%module%"
set "status=%errorlevel%"
call :registered_module %3
if defined registered goto :unregister_failed
echo %~1: unregistered %before%.
exit /b 0
:unregister_failed
echo %~1: FAILED: %~2 could not unregister %module% (exit status %status%).
set "failed=1"
exit /b 1

rem Sets "registered" to the module that the class is registered with, in the registry view
rem given as the first argument (/reg:64, /reg:32, or "" on 32-bit Windows).
:registered_module
set "registered="
for /f "delims=" %%l in ('%reg% query "HKLM\SOFTWARE\Classes\CLSID\%clsid%\InprocServer32" /ve %~1 2^>nul') do call :registered_value "%%l"
exit /b 0
rem One line of reg's answer: "    (Default)    REG_SZ    C:\...\Wedgecard.dll". The name of
rem the default value is translated on Windows in other languages: the type marks the value.
:registered_value
set "line=%~1"
if "%line:REG_SZ=%"=="%line%" exit /b 0
set "line=%line:*REG_SZ=%"
for /f "tokens=* delims= " %%v in ("%line%") do set "registered=%%v"
exit /b 0
