// The host's result codes, value types and result buffers (adscodes.h, adsdef.h of the CAD
// host's programming interface): what prompts, system variables, LISP functions and selection
// sets pass back and forth. Left out: the binary, handle and 64-bit members of the value union
// that nothing here uses.
#pragma once

#include <cstdint>

/// Status codes.
inline constexpr int RTNORM = 5100;    ///< The request succeeded.
inline constexpr int RTNONE = 5000;    ///< No value: the user pressed Enter at a prompt.
inline constexpr int RTERROR = -5001;  ///< The value could not be converted or did not fit.
inline constexpr int RTCAN = -5002;    ///< The user cancelled (Escape, Ctrl-C, end of input).
inline constexpr int RTREJ = -5003;    ///< The request itself was invalid (unit, precision, null).
inline constexpr int RTFAIL = -5004;   ///< The link to the host failed.
inline constexpr int RTKWORD = -5005;  ///< A keyword was entered.

/// Value types of a result buffer (restype) and of argument lists.
inline constexpr short RTREAL = 5001;
inline constexpr short RTPOINT = 5002;
inline constexpr short RTSHORT = 5003;
inline constexpr short RTANG = 5004;
inline constexpr short RTSTR = 5005;
inline constexpr short RTENAME = 5006;
inline constexpr short RTPICKS = 5007;
inline constexpr short RTORINT = 5008;
inline constexpr short RT3DPOINT = 5009;
inline constexpr short RTLONG = 5010;
inline constexpr short RTVOID = 5014;
inline constexpr short RTLB = 5016;
inline constexpr short RTLE = 5017;
inline constexpr short RTDOTE = 5018;
inline constexpr short RTNIL = 5019;
inline constexpr short RTDXF0 = 5020;
inline constexpr short RTT = 5021;
inline constexpr short RTRESBUF = 5023;

/// Conditions of the next prompt (acedInitGet).
inline constexpr int RSG_NONULL = 0x0001;  ///< Enter is not accepted: the prompt repeats.
inline constexpr int RSG_NOZERO = 0x0002;
inline constexpr int RSG_NONEG = 0x0004;
inline constexpr int RSG_NOLIM = 0x0008;
inline constexpr int RSG_GETZ = 0x0010;
inline constexpr int RSG_DASH = 0x0020;
inline constexpr int RSG_2D = 0x0040;
inline constexpr int RSG_OTHER = 0x0080;  ///< Any input is accepted (as a keyword).
inline constexpr int RSG_DDISTFIRST = 0x0100;
inline constexpr int RSG_TRACKUCS = 0x0200;
inline constexpr int RSG_NOORTHOZ = 0x0400;
inline constexpr int RSG_NOOSNAP = 0x0800;
inline constexpr int RSG_NODDIST = 0x1000;

using ads_real = double;
using ads_point = ads_real[3];
/// An entity or selection-set name: two machine words, the host's own.
using ads_name = std::intptr_t[2];
using ACHAR = wchar_t;

union ads_u_val {
  ads_real rreal;
  ads_real rpoint[3];
  short rint;
  ACHAR* rstring;
  ads_name rlname;
  std::int32_t rlong;
};

/// One value of a linked list of values.
struct resbuf {
  resbuf* rbnext;
  short restype;
  ads_u_val resval;
};
