// The parameter block's clearing, the identity record and the type table.
#include "chiphost/readers/reader_records.h"

#include <gtest/gtest.h>

namespace k52::chiphost {
namespace {

TEST(ReaderRecords, ClearingZeroesAndMarksTheInterfaceBytesAbsent) {
  ProtocolParams p;
  p.atrLength = 9;
  p.ifsd = 254;
  p.clear();
  EXPECT_EQ(p.atrLength, 0);
  EXPECT_EQ(p.ifsd, 0);
  EXPECT_EQ(p.ta[0], -1);
  EXPECT_EQ(p.td[7], -1);
}

TEST(ReaderRecords, IdentityRecordAndTypes) {
  DeviceIdentity id;
  id.setMaxBaudrate(115200);
  EXPECT_EQ(id.maxBaudrateText(), "115200");
  EXPECT_EQ(id.maxBaudrateLength, 6);
  EXPECT_EQ(typeOfIdentification(0x88), 6);
  EXPECT_EQ(typeOfIdentification(0x84), 1);
  EXPECT_EQ(typeOfIdentification(0x00), std::nullopt);
  EXPECT_EQ(readerType(7).productName, "FENDRIX twin Slot 1");
  EXPECT_EQ(readerType(99).shortName, "---");
  EXPECT_EQ(capabilityMask(3), 2);
  EXPECT_EQ(capabilityMask(1), 6);
}

}  // namespace
}  // namespace k52::chiphost
