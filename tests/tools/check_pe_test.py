#!/usr/bin/python3
"""tools/check_pe.py on copies of the shipped helper that pefile altered here.

usage: check_pe_test.py path/to/OrvaneUpgradeHelper.exe CA_FILE [unittest options]
"""

import os
import subprocess
import sys
import tempfile
import unittest

import pefile

CHECK = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "check_pe.py")
EXE, CA_FILE = sys.argv[1:3]


def descriptors(pe, dll):
    """The import table's entries for dll (upper case)."""
    return [d for d in pe.DIRECTORY_ENTRY_IMPORT if d.dll.upper() == dll]


class CheckPeTest(unittest.TestCase):
    def check_copy(self, change):
        """Exit code and output of the check on a copy that change(pe) altered."""
        with pefile.PE(EXE) as pe, tempfile.TemporaryDirectory() as folder:
            change(pe)
            copy = os.path.join(folder, "OrvaneUpgradeHelper.exe")
            pe.write(copy)
            run = subprocess.run([CHECK, copy, CA_FILE], capture_output=True, text=True)
        return run.returncode, run.stdout + run.stderr

    def assert_fails_naming(self, change, *problems):
        code, output = self.check_copy(change)
        self.assertEqual(code, 1, output)
        for problem in problems:
            self.assertIn(f"FAIL: {problem}", output)

    def test_copy_written_back_unchanged_passes(self):
        # Whatever the other tests' copies fail on comes from their change.
        code, output = self.check_copy(lambda pe: None)
        self.assertEqual(code, 0, output)
        self.assertIn("shipped binary OK", output)

    def test_cleared_hardening_flags(self):
        def clear(pe):
            pe.OPTIONAL_HEADER.DllCharacteristics &= ~(
                pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]
                | pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_NO_SEH"])
        self.assert_fails_naming(clear, "DllCharacteristics lacks NO_SEH",
                                 "DllCharacteristics lacks NX_COMPAT")

    def test_import_of_a_dll_that_is_not_a_known_one(self):
        # ADVAPI32.dll's name, in place, becomes that of a DLL the helper
        # must load from the system folder itself.
        def rename(pe):
            name = descriptors(pe, b"ADVAPI32.DLL")[0].struct.Name
            pe.set_bytes_at_rva(name, b"VERSION.dll\0\0")
        self.assert_fails_naming(rename, "imports VERSION.dll, which is not one of its KnownDLLs")

    def test_isuseranadmin_bound_by_another_ordinal(self):
        def rebind(pe):
            by_ordinal = [i for d in descriptors(pe, b"SHELL32.DLL") for i in d.imports
                          if i.import_by_ordinal and i.ordinal == 680]
            self.assertEqual(len(by_ordinal), 1)
            by_ordinal[0].ordinal = 681
        self.assert_fails_naming(
            rebind, "IsUserAnAdmin is not imported from SHELL32.DLL by its ordinal 680")

    def test_no_version_resource(self):
        # The type's id changes to the next one (RT_DLGINCLUDE), keeping the
        # directory's entries in order: Windows finds no RT_VERSION.
        def hide(pe):
            entry = next(e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries
                         if e.id == pefile.RESOURCE_TYPE["RT_VERSION"])
            entry.struct.Name = pefile.RESOURCE_TYPE["RT_DLGINCLUDE"]
        self.assert_fails_naming(hide, "no version resource")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:])
