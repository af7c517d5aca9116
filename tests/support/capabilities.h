#pragma once
// What the system under the tests can do of the things Windows does and an
// emulator may lack: each is asked of the system once, with a small act of
// this test process, and the answer kept for the run. A test that depends on
// one asserts the real behaviour where the system has it and the starter's
// fallback where it does not, so no gap of an emulator passes for the
// product's behaviour.
namespace starter::test {

// The TCP tables name the process that owns a listener: a listener of this
// process shows with its id (Windows; wine 10). Wine 8 gives id 0 on every row.
bool TablesNameOwners();

// A file another handle still holds loses its name at once when deleted with
// POSIX semantics, read-only or not (Windows 10 1809 on NTFS; wine 10).
// Wine 8 refuses the request.
bool DeletesWithPosixSemantics();

// This 32-bit process runs under WOW64 and can read a 64-bit process's
// memory: ntdll exports NtWow64QueryInformationProcess64 and
// NtWow64ReadVirtualMemory64 (64-bit Windows; wine 10). Wine 8 lacks the first.
bool ReadsProcessesFromWow64();

}  // namespace starter::test
