// Linked into test builds of the Windows programs (upgrade-info-faults.exe
// and upgrade-info-check-faults.exe, the same objects as the programs), to
// make each call that touches a file, a handle or the console fail in turn,
// as a full disk, a locked file or a file system that lacks a feature would,
// or to press Ctrl-C just before it. Its start-up points the executable's
// own import address table at hooks that count those calls, so that the
// programs' code is the product's. Every variable is read once, at start:
//
//   FAULT_CALLS=<path>     writes each hooked call to <path>, a line each, in
//                          order: its name, the class of file information
//                          it takes, if any, and the last part of the name
//                          of each file it concerns, as in
//                          "GetFileInformationByHandleEx FileIdInfo out.txt"
//   FAULT_FAIL_AT=<n>      the <n>th hooked call (counting from 1) fails
//                          without being made: it returns what its function
//                          returns on failure, with the last error
//                          FAULT_ERROR (a Win32 error in decimal,
//                          ERROR_ACCESS_DENIED when unset), errno set to what
//                          that error means and any stream it was given
//                          marked as failed. A close fails having closed, as
//                          a close whose last write fails does.
//   FAULT_FAIL_EVERY=<call>  every call listed as <call>, or as <call>
//                          followed by more, fails so: as a file system that
//                          lacks what it asks for fails it (the FAT driver
//                          answers "GetFileInformationByHandleEx FileIdInfo"
//                          with ERROR_INVALID_PARAMETER), or a full disk
//                          every "WriteFile out.txt"
//   FAULT_CTRL_C_AT=<n>    Ctrl-C comes just before the <n>th hooked call, as
//                          the system sends it: on a thread of its own,
//                          through the console's control handlers. The call
//                          is made once they are done, or 100 ms after they
//                          start while they wait.
//   FAULT_STREAMS=<name>   the file whose last part is <name> answers
//                          GetFileInformationByHandleEx FileStreamInfo with a
//                          second stream, Zone.Identifier, as NTFS would
//   FAULT_TEMP=<directory> the temporary directory (TMP and TEMP), which wine
//                          takes from its registry whatever the caller sets
//   FAULT_SLOW_WRITES=<name>  each WriteFile to the file whose last part is
//                          <name> waits 100 ms first, as on a slow disk

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

namespace {

unsigned long number_from_environment(const char* name,
                                      unsigned long otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::strtoul(value, nullptr, 10) : otherwise;
}

const unsigned long fail_at = number_from_environment("FAULT_FAIL_AT", 0);
const DWORD injected_error =
    number_from_environment("FAULT_ERROR", ERROR_ACCESS_DENIED);
const unsigned long ctrl_c_at = number_from_environment("FAULT_CTRL_C_AT", 0);
const char* const failing_every = std::getenv("FAULT_FAIL_EVERY");
const char* const slow_writes = std::getenv("FAULT_SLOW_WRITES");
HANDLE call_list = INVALID_HANDLE_VALUE;
std::atomic<unsigned long> calls_made{0};
// Set, for a thread, while the injector makes calls of its own, which pass
// through the hooks uncounted. A slot of the system's own: the runtime's
// thread_local makes a hooked call the first time it is read.
const DWORD injecting = TlsAlloc();

int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    default:
      return EIO;
  }
}

// What a failed call returns: FALSE, 0 or a null pointer; -1, EOF or
// INVALID_HANDLE_VALUE; or, as GetSecurityInfo does, the error itself.
enum class returns { zero, minus_one, the_error };
// Whether a failed call was made all the same, as a close that fails is.
enum class made { never, then_failed };

template <typename Result>
Result failure_value(returns what) {
  if constexpr (std::is_pointer_v<Result>) {
    return what == returns::zero ? nullptr
                                 : reinterpret_cast<Result>(std::intptr_t{-1});
  } else {
    return what == returns::zero        ? Result{}
           : what == returns::minus_one ? static_cast<Result>(-1)
                                        : static_cast<Result>(injected_error);
  }
}

template <typename Argument>
void mark_failed(Argument) {}
// A stream whose call failed reports it, as ferror() reads it.
void mark_failed(std::FILE* stream) { stream->_flag |= _IOERR; }

// The last part of a path, in UTF-8.
std::string last_part(const wchar_t* path, std::size_t length) {
  const std::wstring_view whole(path, length);
  const std::wstring_view part = whole.substr(whole.find_last_of(L"\\/") + 1);
  std::string text(part.size() * 3, '\0');
  text.resize(static_cast<std::size_t>(WideCharToMultiByte(
      CP_UTF8, 0, part.data(), static_cast<int>(part.size()), text.data(),
      static_cast<int>(text.size()), nullptr, nullptr)));
  return text;
}

std::string name_of_file(HANDLE file) {
  wchar_t path[MAX_PATH];
  const DWORD length =
      GetFinalPathNameByHandleW(file, path, MAX_PATH, FILE_NAME_NORMALIZED);
  return length > 0 && length < MAX_PATH ? last_part(path, length) : "";
}

void add_word(std::string& line, const std::string& word) {
  if (!word.empty()) {
    line += ' ';
    line += word;
  }
}

// What a call's line tells of its arguments: the class of information it
// takes, and the files it concerns: the one its first argument names or is
// open on, and those under the streams it takes.
template <typename Argument>
void describe(std::string&, Argument) {}
void describe(std::string& line, FILE_INFO_BY_HANDLE_CLASS type) {
  switch (type) {
    case FileBasicInfo:
      return add_word(line, "FileBasicInfo");
    case FileStandardInfo:
      return add_word(line, "FileStandardInfo");
    case FileRenameInfo:
      return add_word(line, "FileRenameInfo");
    case static_cast<FILE_INFO_BY_HANDLE_CLASS>(22):
      return add_word(line, "FileRenameInfoEx");
    case FileDispositionInfo:
      return add_word(line, "FileDispositionInfo");
    case FileEndOfFileInfo:
      return add_word(line, "FileEndOfFileInfo");
    case FileIdInfo:
      return add_word(line, "FileIdInfo");
    default:
      return add_word(line, "class" + std::to_string(static_cast<int>(type)));
  }
}

// The file under a stream.
template <typename Argument>
void name_stream(std::string&, Argument) {}
void name_stream(std::string& line, std::FILE* stream) {
  add_word(
      line,
      name_of_file(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))));
}

template <typename First, typename... Rest>
std::string line_of(const char* function, First first, Rest... rest) {
  std::string line = function;
  describe(line, first);
  (describe(line, rest), ...);
  if constexpr (std::is_same_v<First, HANDLE>) {
    add_word(line, name_of_file(first));
  } else if constexpr (std::is_same_v<First, const wchar_t*>) {
    add_word(line, last_part(first, std::wcslen(first)));
  }
  // CreateFileW opening a file only to delete it, as a check may.
  if constexpr (std::is_same_v<First, const wchar_t*> && sizeof...(Rest) == 6) {
    if (std::get<0>(std::forward_as_tuple(rest...)) == DELETE) {
      add_word(line, "DELETE");
    }
  }
  name_stream(line, first);
  (name_stream(line, rest), ...);
  return line;
}

// The runtime's threads (winpthreads) take copies of the current thread's
// handle, which are no concern of the programs'.
template <typename Argument>
bool is_this_thread(Argument) {
  return false;
}
bool is_this_thread(HANDLE handle) { return handle == GetCurrentThread(); }

// The system runs a console's Ctrl-C as a new thread that starts in
// CtrlRoutine, which calls each control handler, the latest first.
void press_ctrl_c();

// What every hook does before its call: counts it, lists it, and says
// whether it is the one to fail.
template <typename... Arguments>
bool fails_now(const char* function, Arguments... arguments) {
  if (TlsGetValue(injecting) != nullptr || (is_this_thread(arguments) || ...)) {
    return false;
  }
  TlsSetValue(injecting, &calls_made);
  const unsigned long call = ++calls_made;
  const std::string line = line_of(function, arguments...);
  if (call_list != INVALID_HANDLE_VALUE) {
    const std::string listed = line + "\n";
    DWORD written = 0;
    WriteFile(call_list, listed.data(), static_cast<DWORD>(listed.size()),
              &written, nullptr);
  }
  if (call == ctrl_c_at) {
    press_ctrl_c();
  }
  if (slow_writes != nullptr && line.starts_with("WriteFile ") &&
      line.ends_with(std::string(" ") + slow_writes)) {
    Sleep(100);
  }
  TlsSetValue(injecting, nullptr);
  return call == fail_at ||
         (failing_every != nullptr && line.starts_with(failing_every) &&
          (line.size() == std::strlen(failing_every) ||
           line[std::strlen(failing_every)] == ' '));
}

// Where a hook stands in the import address table, and the function the
// table held there. Function pointers of any type pass as this one.
using any_function = void (*)();
struct import_hook {
  const char* name;
  any_function hook;
  any_function* original;
};

// Function names as template arguments.
template <std::size_t N>
struct function_name {
  constexpr function_name(const char (&spelled)[N]) {
    std::copy_n(spelled, N, text);
  }
  char text[N];
};

template <function_name Name>
any_function original = nullptr;

// What a call's result becomes after it is made: the same, but that a file
// named by FAULT_STREAMS reports its data and a second stream, as NTFS
// would of a file downloaded.
template <typename Result, typename... Arguments>
void after_call(Result&, Arguments...) {}
void after_call(BOOL& made, HANDLE file, FILE_INFO_BY_HANDLE_CLASS type,
                LPVOID buffer, DWORD size) {
  static const char* const streamed = std::getenv("FAULT_STREAMS");
  constexpr wchar_t NAMES[][24] = {L"::$DATA", L":Zone.Identifier:$DATA"};
  constexpr DWORD ENTRY =
      (sizeof(FILE_STREAM_INFO) + sizeof NAMES[0] + 7) & ~DWORD{7};
  if (type != FileStreamInfo || streamed == nullptr ||
      name_of_file(file) != streamed || 2 * ENTRY > size) {
    return;
  }
  for (DWORD entry = 0; entry < 2; ++entry) {
    auto* info = reinterpret_cast<FILE_STREAM_INFO*>(
        static_cast<unsigned char*>(buffer) + entry * ENTRY);
    *info = FILE_STREAM_INFO{};
    info->NextEntryOffset = entry == 0 ? ENTRY : 0;
    info->StreamNameLength =
        static_cast<DWORD>(std::wcslen(NAMES[entry]) * sizeof(wchar_t));
    std::copy_n(NAMES[entry], std::wcslen(NAMES[entry]), info->StreamName);
  }
  made = TRUE;
  SetLastError(ERROR_SUCCESS);
}

// What every hook does: the call, or its failure.
template <function_name Name, returns What, made How, typename Function,
          typename... Arguments>
auto call_or_fail(Arguments... arguments) {
  const auto real = reinterpret_cast<Function*>(original<Name>);
  if (!fails_now(Name.text, arguments...)) {
    auto result = real(arguments...);
    after_call(result, arguments...);
    return result;
  }
  const auto result = failure_value<decltype(real(arguments...))>(What);
  if (How == made::then_failed) {
    (void)real(arguments...);
  } else {
    (mark_failed(arguments), ...);
  }
  errno = errno_of(injected_error);
  SetLastError(injected_error);
  return result;
}

// The hook of one function, whose calling convention is the function's own:
// on 32-bit x86, __stdcall for the system's functions and __cdecl for the
// C runtime's.
template <function_name Name, typename Signature, returns What, made How>
struct hook;

template <function_name Name, typename Result, typename... Arguments,
          returns What, made How>
struct hook<Name, Result WINAPI(Arguments...), What, How> {
  static Result WINAPI call(Arguments... arguments) {
    return call_or_fail<Name, What, How, Result WINAPI(Arguments...)>(
        arguments...);
  }
};

#if defined(__i386__)
template <function_name Name, typename Result, typename... Arguments,
          returns What, made How>
struct hook<Name, Result __cdecl(Arguments...), What, How> {
  static Result __cdecl call(Arguments... arguments) {
    return call_or_fail<Name, What, How, Result __cdecl(Arguments...)>(
        arguments...);
  }
};
#endif

template <function_name Name, typename Signature, returns What = returns::zero,
          made How = made::never>
import_hook hooked() {
  return {
      Name.text,
      reinterpret_cast<any_function>(&hook<Name, Signature, What, How>::call),
      &original<Name>};
}

// The calls the programs make on files, handles and the console, and those
// a replacement may come to make.
const import_hook HOOKS[] = {
    hooked<"CloseHandle", decltype(CloseHandle), returns::zero,
           made::then_failed>(),
    hooked<"CreateDirectoryW", decltype(CreateDirectoryW)>(),
    hooked<"CreateFileW", decltype(CreateFileW), returns::minus_one>(),
    hooked<"DeleteFileW", decltype(DeleteFileW)>(),
    hooked<"DuplicateHandle", decltype(DuplicateHandle)>(),
    hooked<"FlushFileBuffers", decltype(FlushFileBuffers)>(),
    hooked<"GetConsoleMode", decltype(GetConsoleMode)>(),
    hooked<"GetFileAttributesW", decltype(GetFileAttributesW),
           returns::minus_one>(),
    hooked<"GetFileInformationByHandle",
           decltype(GetFileInformationByHandle)>(),
    hooked<"GetFileInformationByHandleEx",
           decltype(GetFileInformationByHandleEx)>(),
    hooked<"GetFileSizeEx", decltype(GetFileSizeEx)>(),
    hooked<"GetFileType", decltype(GetFileType)>(),
    hooked<"GetFinalPathNameByHandleW", decltype(GetFinalPathNameByHandleW)>(),
    hooked<"GetFullPathNameW", decltype(GetFullPathNameW)>(),
    hooked<"GetSecurityInfo", decltype(GetSecurityInfo), returns::the_error>(),
    hooked<"GetStdHandle", decltype(GetStdHandle), returns::minus_one>(),
    hooked<"GetTempFileNameW", decltype(GetTempFileNameW)>(),
    hooked<"GetTempPathW", decltype(GetTempPathW)>(),
    hooked<"GetVolumeInformationByHandleW",
           decltype(GetVolumeInformationByHandleW)>(),
    hooked<"LockFileEx", decltype(LockFileEx)>(),
    hooked<"MoveFileExW", decltype(MoveFileExW)>(),
    hooked<"ReadFile", decltype(ReadFile)>(),
    hooked<"ReplaceFileW", decltype(ReplaceFileW)>(),
    hooked<"SetEndOfFile", decltype(SetEndOfFile)>(),
    hooked<"SetFileAttributesW", decltype(SetFileAttributesW)>(),
    hooked<"SetFileInformationByHandle",
           decltype(SetFileInformationByHandle)>(),
    hooked<"SetFilePointerEx", decltype(SetFilePointerEx)>(),
    hooked<"WriteConsoleW", decltype(WriteConsoleW)>(),
    hooked<"WriteFile", decltype(WriteFile)>(),
    hooked<"_close", decltype(_close), returns::minus_one, made::then_failed>(),
    hooked<"_fdopen", decltype(_fdopen)>(),
    hooked<"_filelengthi64", decltype(_filelengthi64), returns::minus_one>(),
    hooked<"_fstat64", decltype(_fstat64), returns::minus_one>(),
    hooked<"_open_osfhandle", decltype(_open_osfhandle), returns::minus_one>(),
    hooked<"_read", decltype(_read), returns::minus_one>(),
    hooked<"_setmode", decltype(_setmode), returns::minus_one>(),
    hooked<"_wfopen", decltype(_wfopen)>(),
    hooked<"fclose", decltype(fclose), returns::minus_one, made::then_failed>(),
    hooked<"fflush", decltype(fflush), returns::minus_one>(),
    hooked<"fgetpos", decltype(fgetpos), returns::minus_one>(),
    hooked<"fputc", decltype(fputc), returns::minus_one>(),
    hooked<"fputs", decltype(fputs), returns::minus_one>(),
    hooked<"fread", decltype(fread)>(),
    hooked<"fsetpos", decltype(fsetpos), returns::minus_one>(),
    hooked<"fwrite", decltype(fwrite)>(),
};

// Set as the control handlers start on Ctrl-C, which may take a while on a
// busy machine; what they do from then on takes a moment.
const HANDLE ctrl_c_handled = CreateEventW(nullptr, TRUE, FALSE, nullptr);

// The first control handler to run. Wine ends a program that leaves Ctrl-C
// to the system with status 0; Windows ends it with STATUS_CONTROL_C_EXIT,
// as this handler does. The C runtime's handler, which runs a SIGINT
// handler the program set, comes after it.
BOOL WINAPI end_as_windows_does(DWORD) {
  SetEvent(ctrl_c_handled);
  void (*const handler)(int) = std::signal(SIGINT, SIG_DFL);
  std::signal(SIGINT, handler);
  if (handler == SIG_DFL) {
    ExitProcess(STATUS_CONTROL_C_EXIT);
  }
  return FALSE;
}

void press_ctrl_c() {
  const auto routine =
      reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<any_function>(
          GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine")));
  const HANDLE thread = CreateThread(
      nullptr, 0, routine,
      reinterpret_cast<void*>(std::uintptr_t{CTRL_C_EVENT}), 0, nullptr);
  WaitForSingleObject(ctrl_c_handled, 10000);
  WaitForSingleObject(thread, 100);
  CloseHandle(thread);
}

// Points each slot of the import address table that holds a hooked
// function at its hook.
void install_hooks() {
  auto* const image = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* const headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
           image + imports.VirtualAddress);
       library->Name != 0; ++library) {
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
        image + library->OriginalFirstThunk);
    auto* slot =
        reinterpret_cast<IMAGE_THUNK_DATA*>(image + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
        continue;
      }
      const char* imported = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
                                 image + names->u1.AddressOfData)
                                 ->Name;
      for (const import_hook& entry : HOOKS) {
        if (std::strcmp(imported, entry.name) != 0) {
          continue;
        }
        DWORD protection = 0;
        VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function,
                       PAGE_READWRITE, &protection);
        *entry.original = reinterpret_cast<any_function>(slot->u1.Function);
        slot->u1.Function = reinterpret_cast<ULONG_PTR>(entry.hook);
        VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection,
                       &protection);
      }
    }
  }
}

struct injector {
  injector() {
    if (const wchar_t* temporary = _wgetenv(L"FAULT_TEMP")) {
      SetEnvironmentVariableW(L"TMP", temporary);
      SetEnvironmentVariableW(L"TEMP", temporary);
    }
    if (const wchar_t* path = _wgetenv(L"FAULT_CALLS")) {
      call_list = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (ctrl_c_at != 0) {
      SetConsoleCtrlHandler(end_as_windows_does, TRUE);
    }
    install_hooks();
  }
} const installed;

}  // namespace
