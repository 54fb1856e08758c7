@echo off
rem A command prompt with vm3870ctl on its PATH (the Start-menu shortcut runs this in cmd /k).
set "PATH=%~dp0;%PATH%"
title vm3870ctl
vm3870ctl --version
echo Type vm3870ctl --help for the commands.
