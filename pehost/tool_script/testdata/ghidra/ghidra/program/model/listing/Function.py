"""Stand-in of the nested enumeration Function.FunctionUpdateType."""


class FunctionUpdateType(object):
    # row Function.FunctionUpdateType: CUSTOM_STORAGE, DYNAMIC_STORAGE_FORMAL_PARAMS, ...
    CUSTOM_STORAGE = "CUSTOM_STORAGE"
    DYNAMIC_STORAGE_FORMAL_PARAMS = "DYNAMIC_STORAGE_FORMAL_PARAMS"
    DYNAMIC_STORAGE_ALL_PARAMS = "DYNAMIC_STORAGE_ALL_PARAMS"
