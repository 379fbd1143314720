// Library-wide settings changed by set_system() and read by the searches.
#ifndef QURO_SETTINGS_H
#define QURO_SETTINGS_H

namespace quro {

// 0 or below (default): a match must keep its model inside the image. Above 0: matches may cross
// the image border and the searches widen their normal maps by a border.
int border_shape_models();
void set_border_shape_models(int value);

// Whether timing output is printed (default on).
bool print_time();
void set_print_time(bool on);

}  // namespace quro

#endif  // QURO_SETTINGS_H
