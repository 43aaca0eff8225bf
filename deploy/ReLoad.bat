@echo off
rem Reloads Waylink: copies the files of the update folder over the program, then starts it.
cd /d "%~dp0"
timeout /t 1 /nobreak >nul
if exist update\ (
  xcopy /e /y /q update\* . >nul
  rmdir /s /q update
)
start "" waylink.exe
