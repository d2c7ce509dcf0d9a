#include "core/records.h"

namespace qm {

static_assert(sizeof(CellRecord) == 40, "a cell record is the unit of memory: keep it at 40 bytes");

Ref<CellRecord> CellRecord::create(uint32_t row, uint16_t column, CellValue value,
                                   std::optional<std::string_view> formula,
                                   std::string_view data_type,
                                   std::optional<std::string_view> style_id,
                                   std::optional<std::string_view> hidden_value) {
  Ref<CellRecord> r = make_ref<CellRecord>(row, column, std::move(value));
  if (formula) r->extras().formula.emplace(*formula);
  if (style_id) r->extras().style_id.emplace(*style_id);
  if (hidden_value) r->extras().hidden_value.emplace(*hidden_value);
  r->set_data_type(data_type);
  return r;
}

std::string_view CellRecord::data_type() const {
  if (data_type_ == 0) return {};
  if (data_type_ == kLongDataType) return extras_->data_type;
  return std::string_view(&data_type_, 1);
}

void CellRecord::set_data_type(std::string_view dt) {
  if (dt.empty()) {
    data_type_ = 0;
  } else if (dt.size() == 1 && dt[0] != kLongDataType && dt[0] != 0) {
    data_type_ = dt[0];
  } else {
    extras().data_type.assign(dt);
    data_type_ = kLongDataType;
  }
}

void CellRecord::assign_value(CellValue v) {
  value_ = std::move(v);
  if (extras_) extras_->formula.reset();
  data_type_ = value_.data_type_code();
}

void CellRecord::assign_formula(std::string_view formula) {
  extras().formula.emplace(formula);
  data_type_ = 'f';
}

Ref<CellRecord> CellRecord::clone() const {
  Ref<CellRecord> r = make_ref<CellRecord>(row_, column_, value_);
  r->data_type_ = data_type_;
  if (extras_) r->extras_ = std::make_unique<Extras>(*extras_);
  return r;
}

}  // namespace qm
