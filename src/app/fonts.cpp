#include "app/fonts.h"

#include <QFont>
#include <QStringList>

namespace vm {

void installFontSubstitutions() {
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    // NanumBarunGothic before NanumGothic: at 9 pt NanumGothic sets its full stop below the
    // line, where it reads as a comma ("www,velmora,example").
    QFont::insertSubstitutions(QStringLiteral("Gulim"),
                               {QStringLiteral("NanumBarunGothic"), QStringLiteral("NanumGothic"),
                                QStringLiteral("Liberation Sans")});
    QFont::insertSubstitutions(QStringLiteral("GulimChe"), {QStringLiteral("NanumGothicCoding"),
                                                            QStringLiteral("Liberation Mono"),
                                                            QStringLiteral("DejaVu Sans Mono")});
}

} // namespace vm
