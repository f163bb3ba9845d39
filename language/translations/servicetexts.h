#pragma once

// Texts that reach the screen from the update service rather than from the
// program: the product names of get_product_names.asp are shown through
// TTranslator::translate(). Only lupdate reads this file; nothing compiles it.
// The names are those the demo catalogue of the reference service sends.

QT_TRANSLATE_NOOP("TTranslator", "Automobili")
QT_TRANSLATE_NOOP("TTranslator", "Motocicli")
QT_TRANSLATE_NOOP("TTranslator", "Autocarri")
