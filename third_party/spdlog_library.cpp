// spdlog's compiled part, built once per tree (SPDLOG_COMPILED_LIB): its
// headers then declare the logger, registry, formatter and sink base without
// their bodies, which this file alone compiles. Only the parts the programs
// use are here, with the console sink spdlog's registry makes its default
// logger from; spdlog's file sinks are not.
#include <spdlog/common-inl.h>
#include <spdlog/details/log_msg-inl.h>
#include <spdlog/details/log_msg_buffer-inl.h>
#include <spdlog/details/os-inl.h>
#include <spdlog/details/periodic_worker-inl.h>
#include <spdlog/details/registry-inl.h>
#include <spdlog/details/backtracer-inl.h>
#include <spdlog/logger-inl.h>
#include <spdlog/pattern_formatter-inl.h>
#include <spdlog/sinks/base_sink-inl.h>
#include <spdlog/sinks/sink-inl.h>
#include <spdlog/sinks/stdout_color_sinks-inl.h>
#include <spdlog/spdlog-inl.h>

#include <mutex>

template class spdlog::sinks::base_sink<std::mutex>;
#ifdef _WIN32
#include <spdlog/sinks/wincolor_sink-inl.h>
template class spdlog::sinks::wincolor_sink<spdlog::details::console_mutex>;
template class spdlog::sinks::wincolor_stdout_sink<spdlog::details::console_mutex>;
#else
#include <spdlog/sinks/ansicolor_sink-inl.h>
template class spdlog::sinks::ansicolor_sink<spdlog::details::console_mutex>;
template class spdlog::sinks::ansicolor_stdout_sink<spdlog::details::console_mutex>;
#endif
