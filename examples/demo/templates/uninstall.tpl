rem Removes %PATCH% again
"%PATCHHOME%\Korvex.exe" /U:"%RecordFile%" /S
