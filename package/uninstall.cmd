@echo off
rem Unregisters the card reader driver (both bitnesses on 64-bit Windows): install.cmd /u.
rem Run it from a command prompt opened as administrator. What is not registered is left
rem alone, so running it again does no harm. Exit status as install.cmd's.
call "%~dp0install.cmd" /u
exit /b %errorlevel%
