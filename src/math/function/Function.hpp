#ifndef OMBRIX_MATH_FUNCTION_FUNCTION_HPP
#define OMBRIX_MATH_FUNCTION_FUNCTION_HPP

namespace math {
namespace function {

// A function of one argument. Objects are owned by value by whoever makes them and are
// never deleted through this interface, so the destructor is protected and not virtual.
template <class R, class A>
class Function {
public:
    virtual R operator()(const A& argument) const = 0;

protected:
    Function() = default;
    Function(const Function&) = default;
    Function& operator=(const Function&) = default;
    ~Function() = default;
};

} // namespace function
} // namespace math

#endif
