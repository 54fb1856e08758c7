#include "window/fonts.h"

#include <QFont>
#include <QStringList>

namespace vm {

void installFontSubstitutions() {
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    QFont::insertSubstitutions(QStringLiteral("Gulim"),
                               {QStringLiteral("NanumGothic"), QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("GulimChe"), {QStringLiteral("NanumGothicCoding"),
                                                            QStringLiteral("Liberation Mono"),
                                                            QStringLiteral("DejaVu Sans Mono")});
}

} // namespace vm
