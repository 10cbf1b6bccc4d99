// Reaching one control's part of a window-shaped struct from a member pointer: the common panel,
// the master's panel or unit k's, and the element of an array member. Shared by the binding of
// the widgets and by the operator's choice, which reach the same member of WindowWidgets and
// WindowControls in the same way.
#pragma once

#include <array>
#include <cstddef>
#include <type_traits>

namespace korvan::parts {

template <typename M> struct MemberOf;
template <typename Part, typename T> struct MemberOf<T Part::*> {
    using Struct = Part;
    using Type = T;
};

// The common, the master's or unit k's part of the widgets or of the state.
template <typename Part, typename Whole> auto& PartOf(Whole& whole, int unit) {
    if constexpr (std::is_same_v<Part, std::remove_const_t<decltype(whole.ctrl)>>)
        return whole.ctrl;
    else if constexpr (std::is_same_v<Part, std::remove_const_t<decltype(whole.master)>>)
        return whole.master;
    else
        return whole.unit[static_cast<std::size_t>(unit)];
}

template <typename T> T& Element(T& member, int) {
    return member;
}
template <typename T, std::size_t N> T& Element(std::array<T, N>& member, int index) {
    return member[static_cast<std::size_t>(index)];
}
template <typename T, std::size_t N> const T& Element(const std::array<T, N>& member, int index) {
    return member[static_cast<std::size_t>(index)];
}

// The member `member` points to, of unit `unit`, element `index`.
template <auto member, typename Whole> auto& At(Whole& whole, int unit, int index) {
    return Element(PartOf<typename MemberOf<decltype(member)>::Struct>(whole, unit).*member, index);
}

} // namespace korvan::parts
