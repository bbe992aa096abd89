#pragma once
// The parameter windows of one program run, for the ones that open or fill
// another: each window enters itself when it is created and leaves when it is
// destroyed. The owner (the program, or a test) keeps the windows.

class TfrmParam;
class TfrmEditParam;
class TfrmReadAllParam;
class TfrmSpecialParams;
class TfrmPassword;

struct ParameterWindows {
    TfrmParam *param = nullptr;
    TfrmEditParam *edit = nullptr;
    TfrmReadAllParam *readAll = nullptr;
    TfrmSpecialParams *special = nullptr;
    TfrmPassword *password = nullptr;
};
