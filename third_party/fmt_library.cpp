// fmt's compiled part, built once per tree. Header-only, every file that
// formats would compile fmt's whole implementation again (the float
// conversion and its tables among it): several seconds a file, and about five
// times that under the sanitizers. Here the non-template functions are
// defined once, and the templates the headers declare for char and wchar_t
// are instantiated for the rest of the program to link against.
#include <fmt/format-inl.h>

FMT_BEGIN_NAMESPACE
namespace detail {

template auto dragonbox::to_decimal(float x) noexcept -> dragonbox::decimal_fp<float>;
template auto dragonbox::to_decimal(double x) noexcept -> dragonbox::decimal_fp<double>;

template locale_ref::locale_ref(const std::locale& loc);
template auto locale_ref::get<std::locale>() const -> std::locale;

template auto thousands_sep_impl(locale_ref) -> thousands_sep_result<char>;
template auto decimal_point_impl(locale_ref) -> char;
template auto thousands_sep_impl(locale_ref) -> thousands_sep_result<wchar_t>;
template auto decimal_point_impl(locale_ref) -> wchar_t;

template void vformat_to(buffer<char>&, string_view, basic_format_args<FMT_BUFFER_CONTEXT(char)>,
                         locale_ref);

}  // namespace detail
FMT_END_NAMESPACE
