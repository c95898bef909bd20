// The desktop program's tests run as Qt Test classes in one program, whose application object is
// the program's own (so its resources and metadata are there). `ui_tests ClassName [qtest options]`
// runs one class.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

namespace clipwright::ui::test {

bool RegisterUiTest(const char* className, std::function<std::unique_ptr<QObject>()> make);

} // namespace clipwright::ui::test

#define CLIPWRIGHT_UI_TEST(Class)                                                                            \
    static const bool registered##Class =                                                                    \
        ::clipwright::ui::test::RegisterUiTest(#Class, [] { return std::make_unique<Class>(); })
