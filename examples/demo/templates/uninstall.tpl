rem Removes %PATCH% again
%PACKAGE%\Korvex.exe /U:"%RecordFile%"
