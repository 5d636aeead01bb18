/* A stand-in for a system DLL that someone planted beside a program: copied
 * under the name of version.dll, msi.dll or crypt32.dll, it leaves the file
 * "<its own path>.loaded" when a process loads it. It exports the functions
 * the helper has imported from those libraries (the Windows Installer ones
 * under their ordinals too), so that a loader that picks it up can finish;
 * each returns ERROR_CALL_NOT_IMPLEMENTED, which no caller mistakes for a
 * real answer. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char marker[MAX_PATH + sizeof(".loaded")];
    const DWORD length = GetModuleFileNameA(instance, marker, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      lstrcatA(marker, ".loaded");
      HANDLE file =
          CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
      if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
  }
  return TRUE;
}

/* Every export of planted_library.def is this one function. */
int PlantedExport(void) { return ERROR_CALL_NOT_IMPLEMENTED; }
