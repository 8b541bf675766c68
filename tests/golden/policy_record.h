// A whole policy record written out by hand from the record layout (not by
// the library's own policy writer), and an emergency policy file holding it.
// The keys are those of the stored-value fixtures (stored_value_cases.h), so
// the policies read from these bytes decrypt the pinned values.
//
// Record: outer SEQUENCE { OCTET STRING hash, SEQUENCE { policy... } }; each
// policy is a SEQUENCE of 33 items in the order of the layout; texts are
// UTF8String (0c), numbers INTEGER (02), flag bytes BOOLEAN (01).
#pragma once

namespace qor::golden {

inline constexpr char kHandWrittenRecordHex[] =
      "30 82 02 87 "  // the record
        "04 58 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f 30 31 32 33 34 35 "  // policy hash, 88 bytes
        "36 37 38 39 3a 3b 3c 3d 3e 3f 40 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d "
        "4e 4f 50 51 52 53 54 55 56 57 58 59 5a 5b 5c 5d 5e 5f 60 61 62 63 64 65 "
        "66 67 68 69 6a 6b 6c 6d 6e 6f 70 71 72 73 74 75 76 77 "
        "30 82 02 29 "  // the policies
          "30 82 01 46 "  // policy 1
            "0c 09 61 72 69 61 32 35 36 2e 76 "  // 1 name
            "0c 03 45 4e 43 "  // 2 (not used)
            "0c 04 41 52 49 41 "  // 3 algorithm
            "02 02 01 00 "  // 4 key length in bits: 256
            "30 4e "  // 5 key versions
              "30 4c "  // key version record
                "02 02 01 02 "  // version 258
                "04 20 c6 d1 dc e7 f2 fd 08 13 1e 29 34 3f 4a 55 60 6b 76 81 8c 97 a2 ad "  // key, 32 bytes
                "b8 c3 ce d9 e4 ef fa 05 10 1b "
                "0c 06 61 63 74 69 76 65 "  // status "active"
                "0c 0d 31 37 30 30 30 30 30 30 30 30 31 32 33 "  // first time "1700000000123"
                "0c 0d 31 38 30 30 30 30 30 30 30 30 34 35 36 "  // second time "1800000000456"
            "0c 06 43 4f 4c 55 4d 4e "  // 6 IV type: not RECORD, so the policy IV
            "0c 02 78 37 "  // 7 (not used)
            "0c 0c 52 45 54 55 52 4e 5f 45 52 52 4f 52 "  // 8 errorProcess 1
            "01 01 00 "  // 9 nullProcess 0
            "0c 05 41 4c 4c 4f 57 "  // 10 duplicates 0
            "0c 03 41 4c 4c "  // 11 pattern: whole value
            "0c 00 "  // 12 pattern characters (not read)
            "0c 00 "  // 13 position (not read)
            "0c 05 55 4c 56 45 58 "  // 14 compatibility 0
            "0c 03 78 31 35 "  // 15 (not used)
            "0c 03 78 31 36 "  // 16 (not used)
            "0c 03 44 41 59 "  // 17 decryptCountUnit 1
            "02 01 09 "  // 18 (not used)
            "02 01 05 "  // 19 decryptCnt 5
            "0c 0a 43 49 50 48 45 52 54 45 58 54 "  // 20 unauthorizedDecryption 3
            "0c 03 78 32 31 "  // 21 (not used)
            "0c 0b 42 4c 4f 43 4b 5f 46 49 52 53 54 "  // 22 prio 2
            "01 01 00 "  // 23 audit 1
            "01 01 00 "  // 24 audit 2
            "01 01 00 "  // 25 audit 3
            "01 01 00 "  // 26 audit 4
            "30 47 "  // 27 access rules
              "30 45 "  // access rule entry
                "30 07 "  // rule list 1
                  "0c 05 61 6c 69 63 65 "  // rule "alice"
                "30 0a "  // rule list 2
                  "0c 03 64 62 31 "  // rule "db1"
                  "0c 03 64 62 32 "  // rule "db2"
                "30 00 "  // rule list 3: no rules
                "30 03 "  // rule list 4: weekdays
                  "0c 01 31 "  // rule "1"
                "0c 08 32 30 32 36 2d 31 2d 31 "  // date from
                "0c 0a 32 30 32 36 2d 31 32 2d 33 31 "  // date to
                "0c 04 38 3a 30 30 "  // time from
                "0c 05 31 38 3a 30 30 "  // time to
                "01 01 01 "  // decryptAllowed
                "01 01 00 "  // encryptAllowed
            "0c 06 52 45 4e 41 4d 45 "  // 28 targetExist 3
            "0c 06 42 41 43 4b 55 50 "  // 29 orgFileHandling: BACKUP with an extension gives 2
            "0c 05 2e 6f 72 69 67 "  // 30 orgBackupExtension
            "01 01 01 "  // 31 encFileDelete
            "01 01 00 "  // 32 encDataVerify
            "01 01 01 "  // 33 orgDataVerify
          "30 81 dc "  // policy 2
            "0c 0d 65 78 63 6c 75 64 65 2e 66 72 6f 6e 74 "  // 1 name
            "0c 03 45 4e 43 "  // 2 (not used)
            "0c 04 41 52 49 41 "  // 3 algorithm
            "02 01 80 "  // 4 key length in bits: 128
            "30 3d "  // 5 key versions
              "30 3b "  // key version record
                "02 01 00 "  // version 0
                "04 10 4c 57 62 6d 78 83 8e 99 a4 af ba c5 d0 db e6 f1 "  // key, 16 bytes
                "0c 06 61 63 74 69 76 65 "  // status "active"
                "0c 0d 31 37 30 30 30 30 30 30 30 30 30 30 30 "  // first time "1700000000000"
                "0c 0d 31 37 30 30 30 30 30 30 30 30 30 30 30 "  // second time "1700000000000"
            "0c 06 50 4f 4c 49 43 59 "  // 6 IV type 1
            "0c 00 "  // 7 (not used)
            "0c 0b 52 45 54 55 52 4e 5f 4e 55 4c 4c "  // 8 errorProcess 2
            "01 01 00 "  // 9 nullProcess 0
            "0c 05 41 4c 4c 4f 57 "  // 10 duplicates 0
            "0c 0e 45 58 43 4c 55 44 45 5f 53 54 52 49 4e 47 "  // 11 pattern type
            "0c 01 34 "  // 12 pattern characters: keep 4
            "0c 05 46 52 4f 4e 54 "  // 13 position 1
            "0c 05 55 4c 56 45 58 "  // 14 compatibility 0
            "0c 00 "  // 15
            "0c 00 "  // 16
            "0c 00 "  // 17 decryptCountUnit 0
            "02 01 00 "  // 18
            "02 01 00 "  // 19 decryptCnt 0
            "0c 00 "  // 20 unauthorizedDecryption 0
            "0c 00 "  // 21
            "0c 00 "  // 22 prio 0
            "01 01 00 "  // 23 audit 1
            "01 01 00 "  // 24 audit 2
            "01 01 00 "  // 25 audit 3
            "01 01 00 "  // 26 audit 4
            "30 00 "  // 27 access rules: none
            "0c 09 4f 56 45 52 57 52 49 54 45 "  // 28 targetExist 2
            "0c 06 44 45 4c 45 54 45 "  // 29 orgFileHandling 1
            "0c 00 "  // 30 orgBackupExtension
            "01 01 00 "  // 31 encFileDelete
            "01 01 01 "  // 32 encDataVerify
            "01 01 00 "  // 33 orgDataVerify
    ;

// The installation secret (conf/agent.key) of the emergency file below.
inline constexpr char kEmergencySecretHex[] = "e0e1e2e3e4e5e6e7e8e9eaebecedeeef";

// conf/agent.dat: 32 salt bytes (07 18 29 ...), then the record above under
// ARIA-256-CBC with PKCS#7 padding, key and IV the first 32 and last 16 bytes
// of SHA-384(secret || salt). Made with the openssl command-line tool
// (openssl enc -aria-256-cbc -K <key> -iv <iv>) and Python's hashlib.
inline constexpr char kEmergencyFileHex[] =
    "0718293a4b5c6d7e8fa0b1c2d3e4f5061728394a5b6c7d8e9fb0c1d2e3f40516ec63b2cc0586ac5d4781d09b1fe2730a"
    "1a75c18a8a04baa08c9434e2c78cde3fa310c650b880a534fa275add16639c9a2c4d8600ca67e955441bc2570e890510"
    "b98f298a461590547f12b87fefb4c8a2486a846063add60b2b7596ebcee1a12c8136392535888a651af40ae9e15d16c9"
    "2b47d2dd929e07f34e3dc22c33bd676481782fe4a32643624858578045e685d4ec5a389f5527782e49fddaf35deca19f"
    "a580a929e0eee11d0a144870a652c505a1e1911bf2731a4fd429877131fe67c8610eec57412e9770e0616e3107cd4f6a"
    "2ee5a4dfe40617f55c8f8816d9a424217e2bad23c1af08c5d76deb530df3795eba7de7bb754abb96e1c4119bbe75843f"
    "ada3ea90752f14f91c0127b903a461656baabe8ab8fd6c36391a87bbf5491419280003afbf9760af4cc58cb21b40b108"
    "b4befdfcaff2829d453a2376f099c44321e8e258f1fd5df3f45e44203f94896512c99c44f308fa5511dbbd7ba51be9d2"
    "9f137217b77582b3039b865c02c52ba6c60ad47ce97c2fe9fa329da3a707dcc1cfdbfd3ca317c0638a9c5e3cbafeb32b"
    "a1c3fad9ff71effcb8076b600b4987c1f5f357f4fc84015c5774f8832df80a12dc49a798532acf8d1611867b3d534649"
    "0b3457d08e94e3d79097ab83361bb73a2d6c3a2e0bab25cbc9c361c30052fba15ad1ef992e6d9cb443ec16c902b2780d"
    "839e77a6066b717f1c618489b14015b8d01e9617529a36b4ead30f0cdbf1431537844582b682e7b5f7c7d63466792bcd"
    "413d99355320445a87216aec4d149af034604b2ce39d53a968c480e3a5b09ab8f964296720e71bb1c8d0846f9e9565fc"
    "16ea6d47f547b6421e9c003b0b1bbc47f40d0dba968638f89e1e8f79012b0f9eeb859676abfa2fea357b7f71d905886a"
    "b21767c6d4281e5d60463916122f8436"
    ;

}  // namespace qor::golden
