#pragma once
// Writes the host product's table-definition files (".def"): the records
// field by field as the product stores them, and whole files with header,
// directory and definition blocks.
#include <cstdint>
#include <string>
#include <vector>

#include "hostdata/tbdef_model.h"

namespace kw::sample {

// Record encoders. Texts are written in code page 1252 with a 2-byte length;
// a list as its dimension count, (element count, lower bound) per dimension
// and its elements, the first index varying fastest.
void PutTbDef(std::string& out, const TbDef& d);
void PutTbColTexts(std::string& out, const TbColTexts& t);
void PutTbSuppA(std::string& out, const TbSuppA& a);
void PutTbSuppB(std::string& out, const TbSuppB& b);

// One table of a definition file.
struct DefTable {
  int16_t TableNo = 0;
  TbDef def;
  TbColTexts colTexts;
  TbSuppA suppA;  // written right after colTexts when def.SuppA >= 1
  TbSuppB suppB;  // written behind all blocks, and listed, when def.SuppB >= 1
};

struct DefFileContent {
  int32_t TableMax = 0;  // the header's table maximum
  // Directory entries for tables 1 to this (at least to the highest table).
  int16_t DirectoryEntries = 0;
  std::vector<DefTable> tables;
};

// Where a table's records landed, as positions counted from 1; an end is the
// position just behind the last byte. 0 when not written.
struct DefTablePlace {
  int16_t TableNo = 0;
  int32_t defPos = 0;
  int32_t blockEnd = 0;
  int32_t suppBPos = 0;
  int32_t suppBEnd = 0;
};

// The bytes of a whole file: a 100-byte header with the table maximum at
// offset 4, a 40-byte directory entry per table t at offset 60 + 40 t (DefPos
// in bytes 0-3, SuppBPos in bytes 12-15; 0 for a table not listed), then the
// blocks in the order given, then the TbSuppB records.
std::string DefFileBytes(const DefFileContent& f, std::vector<DefTablePlace>* places = nullptr);

// A column of a sample table.
struct SampleColumn {
  std::string name;     // ColName
  std::string caption;  // ColCaption
  std::string flags;    // ColFlags
  char type = 'a';      // ColType
  int16_t length = 0;   // ColLength
};

// The columns of the product's address table ADRSTM; TELVOR and FAXVOR are
// marked as area-code columns.
std::vector<SampleColumn> AddressColumns();

// A complete, realistic definition of a table with the given columns, every
// column list spanning 1..ColCount.
DefTable SampleTable(int16_t TableNo, const std::string& name, const std::string& caption,
                     const std::vector<SampleColumn>& columns);

// Table 13, ADRSTM, with its keys and both supplementary records.
DefTable AddressTable(const std::vector<SampleColumn>& columns = AddressColumns());

// A client's definition file ("NoltData.def"): table maximum 40, tables 11,
// 13 (from AddressTable(columns)) and 14; no definition for table 12.
std::string SampleAddressDefinitionFile(
    const std::vector<SampleColumn>& columns = AddressColumns(),
    std::vector<DefTablePlace>* places = nullptr);

}  // namespace kw::sample
