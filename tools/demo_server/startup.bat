@echo off
rem Starts the demo KESTRIN server. The options come from demo_server.args
rem beside this file (written by whoever lays out the installation); without
rem that file the server answers at once.
"%~dp0demo_server.exe" --log "%~dp0demo_server.log" --args-file "%~dp0demo_server.args"
