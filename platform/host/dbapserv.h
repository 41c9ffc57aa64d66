// The host's services to the database code: the working database and the layout manager.
//
// Stands in for ObjectARX's dbapserv.h (AcDbHostApplicationServices,
// acdbHostApplicationServices) and dblaymgr.h (AcDbLayoutManager). The host (documents, the
// command line) sets the working database; nothing here owns it. Left out: find-file services,
// progress meters, the layout manager's creation, renaming and plot settings.
//
// Threads: the host's main thread only.
#pragma once

#include "platform/host/dbmain.h"

/// Finds layouts by name and answers the active one.
class AcDbLayoutManager {
 public:
  /// The name of the active layout of `db` (null: the working database): "Model" when
  /// model space is current (TILEMODE 1 or $CTAB "Model"), otherwise the layout $CTAB names,
  /// or the layout whose block record is *Paper_Space. The caller frees it with acutDelBuffer;
  /// eNoDatabase without a database.
  Acad::ErrorStatus getActiveLayoutName(ACHAR*& name, bool allow_model,
                                        const AcDbDatabase* db = nullptr) const;
  /// The active layout's name (empty without a working database).
  AcString findActiveLayout(bool allow_model) const;
  /// The LAYOUT object of `name` (case-insensitive), null when there is none.
  AcDbObjectId findLayoutNamed(const ACHAR* name, const AcDbDatabase* db = nullptr) const;
  /// The layout names in tab order (LAYOUT group 71), "Model" first. R12 drawings, which have
  /// no LAYOUT objects, answer "Model" and "Layout1".
  AcArray<AcString> layoutNames(const AcDbDatabase* db = nullptr) const;
  /// The name of the layout a block record belongs to: "Model" for *Model_Space, the
  /// layout's name for a paper-space record (its group 340 LAYOUT pointer), empty for an
  /// ordinary block.
  AcString layoutNameOfBlock(AcDbObjectId block_record_id) const;
};

/// The host's services.
class AcDbHostApplicationServices {
 public:
  /// The current drawing's database; null before the host opened one.
  AcDbDatabase* workingDatabase() const { return working_; }
  /// Makes `db` the working database (null: none). The database is not owned.
  void setWorkingDatabase(AcDbDatabase* db) { working_ = db; }
  AcDbLayoutManager* layoutManager() { return &layouts_; }

 private:
  AcDbDatabase* working_ = nullptr;
  AcDbLayoutManager layouts_;
};

/// The one service object of the process.
AcDbHostApplicationServices* acdbHostApplicationServices();
