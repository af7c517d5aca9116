#pragma once
// The system records that lead from a process to its command line, written
// once over the pointer width of the process that owns them. The starter is a
// 32-bit program, but under WOW64 it reads 64-bit records of other processes,
// so neither width may follow the compiler's own pointer size: a pointer of the
// target is always an integer of the target's width, and it is handed around
// as a 64-bit address. All records are little-endian, as on every x86 target.
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace starter::service {

struct Traits32 {
  using Pointer = std::uint32_t;
};
struct Traits64 {
  using Pointer = std::uint64_t;
};

// The starter's own width: what the system writes into the starter's own
// buffers, whatever the width of the process asked about.
using OwnTraits = std::conditional_t<sizeof(void*) == 8, Traits64, Traits32>;

// Pointer fields are aligned to their own width; spelling it out keeps the
// 64-bit records right on i686, where a compiler may align 8-byte integers to 4.
#define STARTER_TARGET_POINTER alignas(sizeof(typename Traits::Pointer)) typename Traits::Pointer

// The answer of the basic-information query (information class 0).
template <class Traits>
struct BasicInformation {
  std::int32_t exit_status;
  STARTER_TARGET_POINTER peb_address;
  STARTER_TARGET_POINTER affinity_mask;
  std::int32_t base_priority;
  STARTER_TARGET_POINTER process_id;
  STARTER_TARGET_POINTER parent_process_id;
};

// UNICODE_STRING: sizes in bytes, the buffer lives in the target.
template <class Traits>
struct CountedWideString {
  std::uint16_t length;
  std::uint16_t maximum_length;
  STARTER_TARGET_POINTER buffer;
};

// The start of the process environment block, up to the parameters pointer.
template <class Traits>
struct PebHead {
  std::uint8_t flags[4];
  STARTER_TARGET_POINTER mutant;
  STARTER_TARGET_POINTER image_base_address;
  STARTER_TARGET_POINTER loader_data;
  STARTER_TARGET_POINTER process_parameters;
};

template <class Traits>
struct CurrentDirectory {
  CountedWideString<Traits> dos_path;
  STARTER_TARGET_POINTER handle;
};

// The start of the process parameters, up to the command line.
template <class Traits>
struct ProcessParametersHead {
  std::uint32_t maximum_length;
  std::uint32_t length;
  std::uint32_t flags;
  std::uint32_t debug_flags;
  STARTER_TARGET_POINTER console_handle;
  std::uint32_t console_flags;
  STARTER_TARGET_POINTER standard_input;
  STARTER_TARGET_POINTER standard_output;
  STARTER_TARGET_POINTER standard_error;
  CurrentDirectory<Traits> current_directory;
  CountedWideString<Traits> dll_path;
  CountedWideString<Traits> image_path_name;
  CountedWideString<Traits> command_line;
};

#undef STARTER_TARGET_POINTER

// The head of the answer to the command-line query (information class 60):
// a counted string whose buffer points at the text further on in the same
// answer, in the starter's own memory.
using CommandLineAnswerHead = CountedWideString<OwnTraits>;

// How many bytes are copied from the start of each head: the field wanted plus
// room for its widest form, so one copy size per layout serves every reader.
template <class Traits>
inline constexpr std::size_t kPebHeadBytes = offsetof(PebHead<Traits>, process_parameters) + 8;
template <class Traits>
inline constexpr std::size_t kParametersHeadBytes =
    offsetof(ProcessParametersHead<Traits>, command_line) + 16;

// The layouts are fixed by the system; every compiler that builds the starter
// (i686 for the product, x86_64 for the native tests) must agree on them.
static_assert(sizeof(BasicInformation<Traits32>) == 24);
static_assert(offsetof(BasicInformation<Traits32>, peb_address) == 4);
static_assert(sizeof(BasicInformation<Traits64>) == 48);
static_assert(offsetof(BasicInformation<Traits64>, peb_address) == 8);

static_assert(sizeof(CountedWideString<Traits32>) == 8);
static_assert(offsetof(CountedWideString<Traits32>, maximum_length) == 2);
static_assert(offsetof(CountedWideString<Traits32>, buffer) == 4);
static_assert(sizeof(CountedWideString<Traits64>) == 16);
static_assert(offsetof(CountedWideString<Traits64>, maximum_length) == 2);
static_assert(offsetof(CountedWideString<Traits64>, buffer) == 8);

static_assert(sizeof(CommandLineAnswerHead) == 2 * sizeof(void*));
static_assert(offsetof(CommandLineAnswerHead, buffer) == sizeof(void*));

static_assert(offsetof(PebHead<Traits32>, process_parameters) == 0x10);
static_assert(kPebHeadBytes<Traits32> == 24 && sizeof(PebHead<Traits32>) <= 24);
static_assert(offsetof(PebHead<Traits64>, process_parameters) == 0x20);
static_assert(kPebHeadBytes<Traits64> == 40 && sizeof(PebHead<Traits64>) <= 40);

static_assert(offsetof(ProcessParametersHead<Traits32>, command_line) == 0x40);
static_assert(kParametersHeadBytes<Traits32> == 80 && sizeof(ProcessParametersHead<Traits32>) <= 80);
static_assert(offsetof(ProcessParametersHead<Traits64>, command_line) == 0x70);
static_assert(kParametersHeadBytes<Traits64> == 128 && sizeof(ProcessParametersHead<Traits64>) <= 128);

}  // namespace starter::service
