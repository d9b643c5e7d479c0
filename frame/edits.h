// Numbers in the edit fields of settings dialogs: read leniently as the stored modules
// always have (the leading number, 0 when there is none), or strictly with a range for
// settings that must be refused when they are not valid; and written back.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "platform/win.h"

// The leading decimal integer of the text (blanks and a sign allowed, as strtol); 0 when
// there is none.
long LeadingLong(const char* text);
// The leading decimal number of the text (blanks and a sign allowed, the point always
// "."); 0 when there is none or it is not a number. Too large a magnitude gives
// +-HUGE_VALF, too small a one 0.
float LeadingFloat(const char* text);

// The whole text, blanks around it allowed, as a decimal integer within lo .. hi;
// nothing when it is empty, not a number, has trailing characters or lies outside.
std::optional<long> ParseLongIn(const char* text, long lo, long hi);
// The same for a decimal number (the point always "."), finite and within lo .. hi.
std::optional<double> ParseDoubleIn(const char* text, double lo, double hi);

// The first `chars` characters of an edit (the modules' 9-character number fields by
// default), read as above.
long ReadEditLong(HWND dialog, int id, int chars = 9);
float ReadEditFloat(HWND dialog, int id, int chars = 39);
std::optional<long> ReadEditLongIn(HWND dialog, int id, long lo, long hi);
std::optional<double> ReadEditDoubleIn(HWND dialog, int id, double lo, double hi);

// Writes a decimal integer into an edit.
void SetEditLong(HWND dialog, int id, long value);

// An edit of a settings dialog and the values it may hold: a number (a whole one when
// `whole`) from lo to hi, in `unit`. `note` says what else a value means (a clamp, a value
// that cancels) or how the range follows other fields.
struct EditField {
  int id;
  const char* name;  // as the dialog labels it
  double lo;
  double hi;
  bool whole;
  const char* unit = "";
  const char* note = nullptr;
};

// "a whole number from 1 to 32767", "a number from -100 to 0 dB".
std::string FieldRange(const EditField& field, double lo, double hi);
// The range and the note, as the host describes the field.
std::string DescribeField(const EditField& field);
// "<name> must be <range>.": the refusal of a value outside lo .. hi.
std::string FieldRefusal(const EditField& field, double lo, double hi);

// The whole text as a number within lo .. hi (a decimal integer when `whole`: "0.5" and
// "1e3" are no whole numbers); nothing otherwise.
std::optional<double> ParseFieldIn(const char* text, double lo, double hi, bool whole);

// The edit's value within the field's range (or the narrower lo .. hi that other fields
// give it). A refused value shows the refusal, owned by the dialog, under `caption`, and
// gives nothing: the dialog then stays open.
std::optional<double> ReadField(HWND dialog, const EditField& field, const char* caption);
std::optional<double> ReadFieldIn(HWND dialog, const EditField& field, double lo, double hi, const char* caption);
// Whether the edit's text is a value of the field's own range, without a message.
bool FieldHolds(HWND dialog, const EditField& field);
// Every field in order into values (as many); false after the first refused one.
bool ReadFields(HWND dialog, std::span<const EditField> fields, double* values, const char* caption);
// Shows the refusal of a value the field's combination with others does not allow.
void RefuseField(HWND dialog, const EditField& field, double lo, double hi, const char* caption);
