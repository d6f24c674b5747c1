@echo off
rem Unregisters the card reader driver (both bitnesses on 64-bit Windows): install.cmd /u.
rem Run it from a command prompt opened as administrator. What is not registered is left
rem alone, so running it again does no harm. Exit status as install.cmd's.
rem Handed over without "call": install.cmd's exit status then becomes this script's, which
rem Wine's cmd loses after a "call".
"%~dp0install.cmd" /u
