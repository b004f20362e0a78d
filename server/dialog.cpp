// The server's control dialog: it shows "IDLE" and ends on Cancel.
#include "shell/shell.h"

INT_PTR CALLBACK controlDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, STATUS_LINE, "IDLE");
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 2);
            PostQuitMessage(0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
