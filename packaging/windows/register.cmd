@echo off
rem Registers the Tarvo servers of this folder: run it once as administrator.
rem "register.cmd /u" unregisters them.
rem
rem On 64-bit Windows the 64-bit regsvr32 (System32) registers x64\Tarvo.dll
rem and the 32-bit one (SysWOW64) registers x86\Tarvo.dll, each in its own
rem view of the registry; on 32-bit Windows x86\Tarvo.dll is registered alone.
setlocal
set "here=%~dp0"
set "system=%SystemRoot%\System32"
rem A 32-bit command prompt on 64-bit Windows sees SysWOW64 as System32.
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "system=%SystemRoot%\Sysnative"
set failed=0

if exist "%SystemRoot%\SysWOW64\regsvr32.exe" goto windows64
call :register "%system%\regsvr32.exe" x86 %1
goto end
:windows64
call :register "%system%\regsvr32.exe" x64 %1
call :register "%SystemRoot%\SysWOW64\regsvr32.exe" x86 %1
:end
exit /b %failed%

:register
%1 /s %3 "%here%%2\Tarvo.dll"
if errorlevel 1 goto register_failed
echo %2\Tarvo.dll: done.
goto :eof
:register_failed
echo %2\Tarvo.dll: regsvr32 failed; run this as administrator.
set failed=1
goto :eof
