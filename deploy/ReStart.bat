@echo off
rem Starts a fresh Waylink: waits for the running program to end, then starts it again.
cd /d "%~dp0"
timeout /t 1 /nobreak >nul
start "" waylink.exe
