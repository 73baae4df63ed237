// STUB(issue 7): replaced by the service control tool.
int wmain(int, wchar_t**) { return 0; }
