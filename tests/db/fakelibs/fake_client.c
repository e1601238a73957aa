/* A stand-in client library for the binding tests: it exports entry points by name only.
 * Which entry points exist, and the version it reports, are chosen at build time:
 *   FAKE_V60          the 6.0 entry points (retaining rollback, services, SQL dates)
 *   FAKE_MAJOR/MINOR  the version entry points, reporting this version
 *   FAKE_V70_SET      the 7.0 descriptor entry points
 *   FAKE_V71_SET      the 7.1 savepoint entry points
 *   FAKE_WITHOUT_FETCH  leave out the mandatory isc_dsql_fetch */

/* The entry points are a table, not code to format. */
/* clang-format off */
#define EP(name) \
  int name(void) { return 0; }

EP(BLOB_get) EP(BLOB_put) EP(isc_sqlcode) EP(isc_sql_interprete) EP(isc_interprete)
EP(isc_vax_integer) EP(isc_blob_info) EP(isc_open_blob2) EP(isc_close_blob) EP(isc_get_segment)
EP(isc_put_segment) EP(isc_create_blob2) EP(isc_cancel_blob) EP(isc_array_gen_sdl)
EP(isc_array_get_slice) EP(isc_array_lookup_bounds) EP(isc_array_lookup_desc)
EP(isc_array_set_desc) EP(isc_array_put_slice) EP(isc_blob_default_desc) EP(isc_blob_gen_bpb)
EP(isc_blob_lookup_desc) EP(isc_blob_set_desc) EP(isc_decode_date) EP(isc_encode_date)
EP(isc_dsql_free_statement) EP(isc_dsql_execute2) EP(isc_dsql_execute)
EP(isc_dsql_set_cursor_name) EP(isc_dsql_sql_info) EP(isc_dsql_alloc_statement2)
EP(isc_dsql_prepare) EP(isc_dsql_describe_bind) EP(isc_dsql_describe)
EP(isc_dsql_execute_immediate) EP(isc_drop_database) EP(isc_detach_database)
EP(isc_attach_database) EP(isc_database_info) EP(isc_start_multiple) EP(isc_commit_transaction)
EP(isc_commit_retaining) EP(isc_rollback_transaction) EP(isc_cancel_events) EP(isc_que_events)
EP(isc_event_counts) EP(isc_event_block) EP(isc_free) EP(isc_add_user) EP(isc_delete_user)
EP(isc_modify_user) EP(isc_prepare_transaction) EP(isc_prepare_transaction2)

#ifndef FAKE_WITHOUT_FETCH
EP(isc_dsql_fetch)
#endif

#ifdef FAKE_V60
EP(isc_rollback_retaining) EP(isc_service_attach) EP(isc_service_detach) EP(isc_service_query)
EP(isc_service_start) EP(isc_decode_sql_date) EP(isc_decode_sql_time) EP(isc_decode_timestamp)
EP(isc_encode_sql_date) EP(isc_encode_sql_time) EP(isc_encode_timestamp)
#endif

#ifdef FAKE_MAJOR
void isc_get_client_version(char* text) { text[0] = 0; }
int isc_get_client_major_version(void) { return FAKE_MAJOR; }
int isc_get_client_minor_version(void) { return FAKE_MINOR; }
#endif

#ifdef FAKE_V70_SET
EP(isc_array_gen_sdl2) EP(isc_array_get_slice2) EP(isc_array_lookup_bounds2)
EP(isc_array_lookup_desc2) EP(isc_array_set_desc2) EP(isc_array_put_slice2)
EP(isc_blob_default_desc2) EP(isc_blob_gen_bpb2) EP(isc_blob_lookup_desc2) EP(isc_blob_set_desc2)
#endif

#ifdef FAKE_V71_SET
/* Answers 71 so a test can tell the real entry point from the stand-by. */
int isc_start_savepoint(void) { return 71; }
EP(isc_release_savepoint) EP(isc_rollback_savepoint)
/* clang-format on */
#endif
