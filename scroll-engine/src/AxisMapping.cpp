#include "ScrollCore/AxisMapping.h"

#include "ScrollCore/StoredText.h"

#include <algorithm>
#include <cstdlib>

namespace scroll {

namespace {

using Axis = AxisMapping::Axis;
using Role = AxisMapping::Role;
using Term = AxisMapping::Term;

// Where an axis goes when a role's terms are sorted after an assignment: the axes of the
// movements in the order the user sees the movements (x, ry, y, rx, rz, z).
int movementRank(Axis axis) {
    for (auto movement : AxisMapping::Movement::allCases()) {
        if (movement.axis() == axis) return static_cast<int>(movement);
    }
    return 6;
}

Term literalTerm(std::string_view literal) {
    auto parsed = Term::parse(literal);
    if (!parsed) std::abort();
    return *parsed;
}

} // namespace

AxisMapping::Term::Term(std::string_view literal)
    : Term(literalTerm(literal)) {}

std::optional<Term> AxisMapping::Term::parse(std::string_view text) {
    const auto word = stored::lowercased(stored::trimBlanks(text));
    std::string_view rest = word;
    bool negated = false;
    if (!rest.empty() && rest.front() == '-') {
        negated = true;
        rest.remove_prefix(1);
    }
    const auto axis = Axis::fromRawValue(rest);
    if (!axis) return std::nullopt;
    return Term(*axis, negated);
}

std::string AxisMapping::Term::text() const {
    std::string result = negated ? "-" : "";
    result += axis.rawValue();
    return result;
}

Axis AxisMapping::Movement::axis() const {
    switch (value_) {
    case slideSideways:
        return Axis::x;
    case tiltSideways:
        return Axis::ry;
    case slideForwardBack:
        return Axis::y;
    case tiltForwardBack:
        return Axis::rx;
    case twist:
        return Axis::rz;
    case push:
        return Axis::z;
    }
    std::abort();
}

Term AxisMapping::Movement::term(Role role) const {
    switch (value_) {
    case slideSideways:
        return Term(Axis::x);
    // Tilting the cap to the right is negative ry but should scroll like a slide to the right.
    case tiltSideways:
        return Term(Axis::ry, true);
    case slideForwardBack:
        return Term(Axis::y, role == Role::zoom);
    case tiltForwardBack:
        return Term(Axis::rx, role == Role::zoom);
    case twist:
        return Term(Axis::rz);
    case push:
        return Term(Axis::z);
    }
    std::abort();
}

AxisMapping::AxisMapping()
    : axes{{Role::horizontal, {Term(Axis::x), Term(Axis::ry, true)}},
           {Role::vertical, {Term(Axis::y), Term(Axis::rx)}},
           {Role::zoom, {Term(Axis::z)}},
           {Role::rotate, {Term(Axis::rz)}}} {}

AxisMapping::AxisMapping(std::map<Role, Terms> axes, RoleSet invertedRoles)
    : axes(std::move(axes))
    , invertedRoles(invertedRoles) {}

const AxisMapping::Terms& AxisMapping::operator[](Role role) const {
    static const Terms none;
    const auto found = axes.find(role);
    return found == axes.end() ? none : found->second;
}

void AxisMapping::setTerms(Role role, Terms terms) {
    axes[role] = std::move(terms);
}

std::optional<Role> AxisMapping::role(Movement movement) const {
    const Axis axis = movement.axis();
    for (auto role : Role::allCases()) {
        const auto& terms = (*this)[role];
        if (std::any_of(terms.begin(), terms.end(), [&](Term t) { return t.axis == axis; })) {
            return role;
        }
    }
    return std::nullopt;
}

void AxisMapping::assign(Movement movement, std::optional<Role> role) {
    const Axis axis = movement.axis();
    for (auto each : Role::allCases()) {
        Terms& terms = axes[each];
        std::erase_if(terms, [&](Term t) { return t.axis == axis; });
    }
    if (!role) return;
    Terms& terms = axes[*role];
    terms.push_back(movement.term(*role));
    std::stable_sort(terms.begin(), terms.end(),
                     [](Term a, Term b) { return movementRank(a.axis) < movementRank(b.axis); });
}

void AxisMapping::setInverted(bool inverted, Role role) {
    if (inverted) {
        invertedRoles.insert(role);
    } else {
        invertedRoles.erase(role);
    }
}

std::string AxisMapping::text(Role role) const {
    const auto& terms = (*this)[role];
    if (terms.empty()) return "none";
    std::string result;
    for (const auto& term : terms) {
        if (!result.empty()) result += ',';
        result += term.text();
    }
    return result;
}

std::optional<AxisMapping::Terms> AxisMapping::axesFrom(std::string_view text) {
    std::vector<std::string> pieces;
    for (auto piece : stored::splitAtCommas(text)) {
        pieces.push_back(stored::lowercased(stored::trimBlanks(piece)));
    }
    if (pieces.size() == 1 && pieces.front() == "none") return Terms{};
    if (pieces.empty()) return std::nullopt;
    Terms terms;
    for (const auto& piece : pieces) {
        auto term = Term::parse(piece);
        if (!term) return std::nullopt;
        terms.push_back(*term);
    }
    return terms;
}

} // namespace scroll
