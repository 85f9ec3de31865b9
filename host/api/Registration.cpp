// The procedures the add-in registers: xlfRegister, xlfRegisterId, xlfUnregister, and
// xlGetName, which tells the add-in its own file.

#include "api/Dispatch.hpp"

namespace host::api {

using namespace detail;

Registration* Dispatch::registration_of(std::string_view module, std::string_view procedure) {
    for (Registration& r : host.registrations_)
        if (same_text(r.module(), module) && same_text(r.procedure(), procedure))
            return &r;
    return nullptr;
}

bool Dispatch::resolvable(const std::string& module, const std::string& procedure) {
    if (module.empty() || procedure.empty())
        return false;
    return !host.resolver_ || host.resolver_(module, procedure);
}

// Records a registration (again, for the same module and procedure: same id).
double Dispatch::record(std::vector<std::string> arguments) {
    if (arguments.size() < 3)
        arguments.resize(3);
    if (Registration* r = registration_of(arguments[0], arguments[1])) {
        r->arguments = std::move(arguments);
        return r->id;
    }
    Registration r;
    r.id = host.next_register_id_++;
    r.arguments = std::move(arguments);
    host.registrations_.push_back(std::move(r));
    return host.registrations_.back().id;
}

int Dispatch::do_register() {
    want_count(3, max_callback_args);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(text_arg(i, i >= 2));
    if (!resolvable(arguments[0], arguments[1])) {
        out = error_value(ErrorCode::Value);
        return xlretSuccess;
    }
    out = num_value(record(std::move(arguments)));
    return xlretSuccess;
}

int Dispatch::register_id() {
    want_count(2, 3);
    std::string module = text_arg(0, false);
    std::string procedure = text_arg(1, false);
    std::string type_text = text_arg(2, true);
    if (const Registration* r = registration_of(module, procedure)) {
        out = num_value(r->id);
    } else if (!type_text.empty() && resolvable(module, procedure)) {
        out = num_value(record({module, procedure, type_text}));
    } else {
        out = error_value(ErrorCode::Value);
    }
    return xlretSuccess;
}

int Dispatch::unregister() {
    want_count(1, 1);
    auto& regs = host.registrations_;
    auto it = regs.end();
    if (type(0) == xltypeNum || type(0) == xltypeInt) {
        double id = type(0) == xltypeNum ? arg(0).val.num : arg(0).val.w;
        for (it = regs.begin(); it != regs.end() && it->id != id; ++it) {
        }
    } else if (type(0) == xltypeStr) {
        std::string_view name = counted(arg(0).val.str);
        for (it = regs.begin(); it != regs.end(); ++it)
            if (same_text(it->argument(3), name) || same_text(it->procedure(), name))
                break;
    } else {
        refuse(xlretFailed);
    }
    out = bool_value(it != regs.end());
    if (it != regs.end())
        regs.erase(it);
    return xlretSuccess;
}

int Dispatch::get_name() {
    want_count(0, 0);
    set_text_result(host.module_path_);
    return xlretSuccess;
}

} // namespace host::api
