// Links against an installed libquro.so and checks that a few calls behave as documented.
#include <quro/quro.h>

#include <cstdio>

int main() {
    int value = 7;
    get_shape_model_param(0, "timeout", &value);  // no model 0 yet: value stays 7
    const bool ok = clear_mems(0) == -1 && clear_shape_model(-1) == -1 && value == 7;
    std::printf("quro consumer: %s\n", ok ? "ok" : "unexpected results");
    return ok ? 0 : 1;
}
