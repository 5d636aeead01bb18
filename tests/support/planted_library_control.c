/* Imports version.dll, msi.dll and crypt32.dll in its import table, as the
 * helper once did, and calls none of them: run from a folder with planted
 * copies, it shows whether this loader takes a DLL from the program's folder
 * at all. Exits 0 once the loader has resolved its imports. */
#include <windows.h>
#include <msi.h>
#include <wincrypt.h>

int main(void) {
  /* Taking the addresses keeps the imports without calling a planted stub. */
  void* volatile imports[] = {(void*)&GetFileVersionInfoSizeA, (void*)&MsiEnumRelatedProductsA,
                              (void*)&CryptQueryObject};
  return imports[0] != NULL && imports[1] != NULL && imports[2] != NULL ? 0 : 1;
}
