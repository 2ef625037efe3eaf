#pragma once
// Deletes an object through its (virtual) destructor and clears the holder;
// a null holder is left alone.

template <class T>
void DeleteAndNull(T*& holder)
{
    T* object = holder;
    holder = nullptr;
    delete object;
}
