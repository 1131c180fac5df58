#include "encodingtable.h"

const char16_t* const encodingtable[ENCODING_BUCKETS] = {
    u"0800949ksc_5601",                                                                                            // 0
    u"1920932cseucpkdfmtjapanese0920003x-cp20003",                                                                 // 1
    u"1250221_iso-2022-jp0228591l10920004x-cp20004",                                                               // 2
    u"0228592l20920005x-cp20005",                                                                                  // 3
    u"1000858ccsid008580600850ibm8500228593l3",                                                                    // 4
    u"0600437ibm4370600860ibm8600228594l40701201ucs-2be",                                                          // 5
    u"0751932cp519320600852ibm8520600861ibm8610228599l50501250ms-ee",                                              // 6
    u"0700858cp008580620127ibm3670600862ibm8620920261x-cp202611010021x-mac-thai",                                  // 7
    u"0500869cp-gr0600737ibm7370600863ibm8631057003x-iscii-be",                                                    // 8
    u"0628591ibm8190600855ibm8550600864ibm8640750221ms50221",                                                      // 9
    u"0600775ibm7750600865ibm8651028591iso-ir-1000228605l90300949uhc1057002x-iscii-de",                            // 10
    u"0500861cp-is0600857ibm8570600866ibm8661028592iso-ir-1011028594iso-ir-110",                                   // 11
    u"0950227x-cp50227",                                                                                           // 12
    u"1628598csisolatinhebrew0320866koi1057008x-iscii-ka",                                                         // 13
    u"1000950big5-hkscs0600869ibm8691220106x-ia5-german",                                                          // 14
    u"0701200ucs-2le0712001utf32be0920269x-cp202691057009x-iscii-ma",                                              // 15
    u"0800708asmo-7080500437cspc81765000unicode-1-1-utf-70612000utf-320920936x-cp20936",                           // 16
    u"1200775ebcdic-cp-be0628598hebrew1765001unicode-1-1-utf-81765001unicode-2-0-utf-80701201utf16be0551932x-euc", // 17
    u"1028597iso-ir-1261028595iso-ir-1440728605latin-90601200utf-161057011x-iscii-pa",                             // 18
    u"1028593iso-ir-1091028596iso-ir-1270751932ms51932",                                                           // 19
    u"1050225iso2022-kr1128605iso_8859-150600949korean0801253ms-greek0920949x-cp20949",                            // 20
    u"1200775ebcdic-cp-ch1450221iso-2022-jp-ms1028598iso-ir-1381057006x-iscii-as",                                 // 21
    u"1028599iso-ir-1481057004x-iscii-ta",                                                                         // 22
    u"1000949iso-ir-1490820127us-ascii",                                                                           // 23
    u"",                                                                                                           // 24
    u"1900850cspc850multilingual1000936gb_2312-800712000utf32le",                                                  // 25
    u"1300949csksc560119871057005x-iscii-te1965000x-unicode-2-0-utf-7",                                            // 26
    u"0928591iso8859-10701200utf16le1965001x-unicode-2-0-utf-8",                                                   // 27
    u"0928592iso8859-20520866koi8r1000932x-ms-cp9321420002x_chinese-eten",                                         // 28
    u"0928593iso8859-31138598iso8859-8-i1320000x-chinese-cns1057010x-iscii-gu",                                    // 29
    u"0928594iso8859-4",                                                                                           // 30
    u"1150221csiso2022jp0928595iso8859-5",                                                                         // 31
    u"0900154csptcp1540928596iso8859-6",                                                                           // 32
    u"1400154cyrillic-asian0928597iso8859-70900932shift_jis",                                                      // 33
    u"1150225csiso2022kr0928598iso8859-81057007x-iscii-or",                                                        // 34
    u"0928599iso8859-90721866koi8-ru",                                                                             // 35
    u"0910000macintosh",                                                                                           // 36
    u"",                                                                                                           // 37
    u"",                                                                                                           // 38
    u"",                                                                                                           // 39
    u"0800936gb2312800628598visual1520108x-ia5-norwegian1210004x-mac-arabic",                                      // 40
    u"",                                                                                                           // 41
    u"0829001x-europa",                                                                                            // 42
    u"",                                                                                                           // 43
    u"1510079x-mac-icelandic",                                                                                     // 44
    u"1128591csisolatin10800932sjis-win",                                                                          // 45
    u"1128592csisolatin2",                                                                                         // 46
    u"1128593csisolatin31400949ks_c_5601-1987",                                                                    // 47
    u"1128594csisolatin4",                                                                                         // 48
    u"0400950big51128595csisolatin51400949ks_c_5601-1989",                                                         // 49
    u"0500775cp5001565000csunicode11utf7",                                                                         // 50
    u"0501361johab",                                                                                               // 51
    u"1100437codepage4371100932windows-932",                                                                       // 52
    u"1800862cspc862latinhebrew1310081x-mac-turkish",                                                              // 53
    u"",                                                                                                           // 54
    u"0500154cp1540800775csibm5000701256ms-arab",                                                                  // 55
    u"0520127ascii1100936windows-936",                                                                             // 56
    u"1528597csisolatingreek1100874windows-874",                                                                   // 57
    u"0500850cp850",                                                                                               // 58
    u"1650222_iso-2022-jp$sio0500437cp4370500860cp8600500932cp9320500950cp9500700720dos-720",                      // 59
    u"0500852cp8520500861cp8610700949ksc56010812001utf-32be",                                                      // 60
    u"0520127cp3670500853cp8530500862cp8620528597greek",                                                           // 61
    u"0500737cp7370500863cp8631150220iso-2022-jp0801201utf-16be",                                                  // 62
    u"0528591cp8190500855cp8550500864cp8640500936cp9364520932extended_unix_code_packed_format_for_japanese",       // 63
    u"0500775cp7750500865cp8650500874cp8740800860csibm860",                                                        // 64
    u"0500857cp8570500866cp8660800861csibm8611150225iso-2022-kr1101201unicodefffe",                                // 65
    u"0500858cp8580700862dos-8620701255ms-hebr",                                                                   // 66
    u"0500949cp9490800863csibm8631210005x-mac-hebrew",                                                             // 67
    u"0500869cp8690800855csibm8550800864csibm8641600437cspc8codepage4370700874tis-620",                            // 68
    u"0800865csibm8650700874dos-8740420866koi80800932ms_kanji0800950x-x-big5",                                     // 69
    u"0800857csibm8570800866csibm8660812000utf-32le1210003x-mac-korean",                                           // 70
    u"",                                                                                                           // 71
    u"1028591iso-8859-10500932ms9320500154pt1540801200utf-16le",                                                   // 72
    u"0800869csibm8691028592iso-8859-20620866koi8-r",                                                              // 73
    u"1500936csiso58gb2312800828597elot_9281028593iso-8859-31238598iso-8859-8-i0820127iso-ir-6",                   // 74
    u"1028594iso-8859-4",                                                                                          // 75
    u"0800852cspcp8521028595iso-8859-50621866koi8-u0701252ms-ansi0500936ms936",                                    // 76
    u"1028596iso-8859-62400858pc-multilingual-850+euro0220127us",                                                  // 77
    u"1028597iso-8859-71028603iso8859-13",                                                                         // 78
    u"1028598iso-8859-81320000x-chinese_cns",                                                                      // 79
    u"1828595csisolatincyrillic1028599iso-8859-91028605iso8859-15",                                                // 80
    u"0465001utf8",                                                                                                // 81
    u"1510017x-mac-ukrainian",                                                                                     // 82
    u"",                                                                                                           // 83
    u"0828595cyrillic",                                                                                            // 84
    u"0900936gb2312-80",                                                                                           // 85
    u"",                                                                                                           // 86
    u"0720866cskoi8r1528591iso_8859-1:1987",                                                                       // 87
    u"1528592iso_8859-2:1987",                                                                                     // 88
    u"1354936iso-4873:1986",                                                                                       // 89
    u"1528593iso_8859-3:19880700932sjis-ms",                                                                       // 90
    u"0600936gb23121528594iso_8859-4:19880701251ms-cyrl",                                                          // 91
    u"1528595iso_8859-5:19881528596iso_8859-6:1987",                                                               // 92
    u"1528597iso_8859-7:1987",                                                                                     // 93
    u"1300932shifft_jis-ms1201250windows-1250",                                                                    // 94
    u"1110000csmacintosh1528598iso_8859-8:19880900949ks_c_56011201251windows-12510810029x-mac-ce",                 // 95
    u"0601200cp12001201252windows-1252",                                                                           // 96
    u"0601201cp12011052936hz-gb-23121528599iso_8859-9:19891400949ks_c_5601_19871201253windows-1253",               // 97
    u"1201254windows-1254",                                                                                        // 98
    u"1000936csgb2312801201255windows-1255",                                                                       // 99
    u"1201256windows-12561100932windows-31j",                                         // 100
    u"0601133cp11330601250cp12501201257windows-1257",                                 // 101
    u"0601125cp11250601251cp12511201258windows-1258",                                 // 102
    u"0601252cp12520701254ms-turk",                                                   // 103
    u"0601253cp12530601361cp1361",                                                    // 104
    u"0601254cp12540800949ks-c5601",                                                  // 105
    u"0601255cp12550651936euc-cn",                                                    // 106
    u"0601256cp1256",                                                                 // 107
    u"0601257cp12570600950csbig50800858ibm00858",                                     // 108
    u"0601258cp1258",                                                                 // 109
    u"0520105x-ia5",                                                                  // 110
    u"0738598logical0801250x-cp12501110006x-mac-greek",                               // 111
    u"0801251x-cp1251",                                                               // 112
    u"",                                                                              // 113
    u"1200932cswindows31j1410001x-mac-japanese",                                      // 114
    u"0700936chinese0720127csascii0620932euc-jp",                                     // 115
    u"0501200ucs-20851936x-euc-cn",                                                   // 116
    u"0628597greek8",                                                                 // 117
    u"0651949euc-kr",                                                                 // 118
    u"",                                                                              // 119
    u"0628591latin1",                                                                 // 120
    u"1100874iso-8859-110628592latin2",                                               // 121
    u"1420127ansi_x3.4-19681420127ansi_x3.4-19861028591iso_8859-10628593latin3",      // 122
    u"1128603iso-8859-131028592iso_8859-20628594latin40701200unicode",                // 123
    u"1028593iso_8859-30628599latin51410082x-mac-croatian",                           // 124
    u"1128605iso-8859-151028594iso_8859-40565000utf-70851932x-euc-jp",                // 125
    u"1300775cspc775baltic1028595iso_8859-50565001utf-80512000utf32",                 // 126
    u"1028596iso_8859-60601252x-ansi1710002x-mac-chinesetrad",                        // 127
    u"1028597iso_8859-70628605latin90700154ptcp1540501200utf161410010x-mac-romanian", // 128
    u"0900936iso-ir-581028598iso_8859-8",                                             // 129
    u"1028599iso_8859-9",                                                             // 130
    u"1350221iso2022-jp-ms0400932sjis",                                               // 131
    u"0751949cseuckr",                                                                // 132
    u"1420002x-chinese-eten",                                                         // 133
    u"1410007x-mac-cyrillic",                                                         // 134
    u"1000932shifft_jis",                                                             // 135
    u"0828596ecma-114",                                                               // 136
    u"",                                                                              // 137
    u"0900932shift-jis",                                                              // 138
    u"0701256cp1256 1320107x-ia5-swedish",                                            // 139
    u"0828597ecma-118",                                                               // 140
    u"1628596csisolatinarabic1710008x-mac-chinesesimp0600932x-sjis",                  // 141
    u"",                                                                              // 142
    u"0754936gb18030",                                                                // 143
    u"0712000cp120001350221windows-50221",                                            // 144
    u"0628596arabic0500936cn-gb0712001cp120010900932sjis-open",                       // 145
    u"",                                                                              // 146
    u"",                                                                              // 147
    u"0700950cn-big51001133ibm-cp11330920127iso646-us",                               // 148
    u"",                                                                              // 149
    u"0800936csgb23120900949ks-c-56010310000mac",                                     // 150
    u"0750221cp502211020127iso-ir-6us1001257winbaltrim",                              // 151
    u"1000932csshiftjis",                                                             // 152
    u"0765001cp650010300936gbk",                                                      // 153
    u"1620127iso_646.irv:19911351932windows-519320920001x-cp20001",                   // 154
};

int32_t codePageOf(const char16_t* name)
{
    int32_t n = 0;
    while (name[n] != 0 && n < ENCODING_NAME_LIMIT) ++n;
    if (n == 0) return 0;
    // Exact case only: the lowercase spelling stays with the table's utf-32 (12000).
    static const char16_t utf32Prefix[] = u"UTF-32";
    int32_t p = 0;
    while (p < 6 && name[p] == utf32Prefix[p]) ++p;
    if (p == 6) return CODEPAGE_UTF32_MEMORY;
    if (n >= ENCODING_NAME_LIMIT) return -1;

    char16_t lowered[ENCODING_NAME_LIMIT];
    uint32_t sum = 0;
    for (int32_t i = 0; i < n; ++i) {
        char16_t unit = name[i];
        // ASCII only: a non-ASCII letter keeps its case and is never found.
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 0x20);
        lowered[i] = unit;
        sum += unit;
    }

    const char16_t* entry = encodingtable[sum % ENCODING_BUCKETS];
    while (*entry != 0) {
        const int32_t length = (entry[0] - u'0') * 10 + (entry[1] - u'0');
        int32_t codePage = 0;
        for (int32_t d = 2; d < 7; ++d) codePage = codePage * 10 + (entry[d] - u'0');
        const char16_t* entryName = entry + 7;
        if (length == n) {
            int32_t i = 0;
            while (i < n && entryName[i] == lowered[i]) ++i;
            if (i == n) return codePage;
        }
        entry = entryName + length;
    }
    return -1;
}
